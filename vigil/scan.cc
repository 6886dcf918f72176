// Radio scans on request.
#include "scan.h"

#include <algorithm>

#include "radio.h"

namespace vigil {

namespace {

enum { SCAN_RADIO, SCAN_TYPE, SCAN_INTERVAL, SCAN_CH_LIST, SCAN_N };
constexpr std::array<blobmsg_policy, SCAN_N> kScanPolicy = {{
	{"radio", BLOBMSG_TYPE_INT32}, {"type", BLOBMSG_TYPE_INT32}, {"interval", BLOBMSG_TYPE_INT32},
	{"ch_list", BLOBMSG_TYPE_ARRAY},
}};

constexpr int kDefaultInterval = 200;
// The driver takes the dwell time in one byte.
constexpr int kMaxInterval = 255;

void reply_done(ScanJob &job, JobList &jobs)
{
	wlc::BlobBuf reply;
	{
		auto list = reply.array("ch_list");
		for (const zev_wifi_chan_stats &s : job.surveys())
			add_survey(s, reply);
	}
	{
		auto list = reply.array("bss_list");
		for (const zev_wifi_bss &b : job.bss())
			add_bss(b, reply);
	}
	reply.add("status", "done");
	job.request.reply(reply);
	job.request.complete(UBUS_STATUS_OK);
	jobs.release_later();
}

} // namespace

bool JobList::busy(uint8_t radio) const
{
	return std::any_of(jobs_.begin(), jobs_.end(),
			   [radio](const auto &j) { return j->radio() == radio && !j->finished(); });
}

void JobList::reap()
{
	jobs_.remove_if([](const auto &j) { return j->finished(); });
}

std::optional<std::vector<int>> channel_list(blob_attr *list)
{
	std::vector<int> channels;
	if (!list)
		return std::nullopt;
	blob_attr *cur;
	size_t rem;
	blobmsg_for_each_attr(cur, list, rem) {
		if (blobmsg_type(cur) != BLOBMSG_TYPE_INT32 || channels.size() == ScanJob::kMaxChannels)
			continue;
		auto ch = static_cast<int32_t>(blobmsg_get_u32(cur));
		if (ch < 1 || ch > 255)
			return std::nullopt;
		channels.push_back(ch);
	}
	if (channels.empty())
		return std::nullopt;
	return channels;
}

int radio_scan_method(JobList &jobs, wlc::Request &req, blob_attr *msg)
{
	wlc::Fields<SCAN_N> f;
	f.parse(kScanPolicy, msg);
	auto radio = f.u32(SCAN_RADIO);
	std::optional<std::vector<int>> channels = channel_list(f[SCAN_CH_LIST]);
	uint32_t type = f.u32(SCAN_TYPE).value_or(0) & 0xFF;
	if (!radio || !channels || type > 1)
		return UBUS_STATUS_INVALID_ARGUMENT;
	ScanJob::Settings s;
	s.radio = static_cast<uint8_t>(*radio & 0xFF);
	s.type = static_cast<uint8_t>(type);
	int interval = static_cast<int32_t>(f.u32(SCAN_INTERVAL).value_or(kDefaultInterval));
	s.interval = std::clamp(interval, 1, kMaxInterval);
	s.channels = std::move(*channels);
	if (jobs.busy(s.radio)) {
		wlc::BlobBuf reply;
		reply.add("status", "running");
		req.reply(reply);
		return UBUS_STATUS_OK;
	}
	auto job = std::make_unique<ScanJob>(std::move(s), [&jobs](ScanJob &j, bool) { reply_done(j, jobs); });
	if (!job->start())
		return UBUS_STATUS_UNKNOWN_ERROR;
	job->request = req.defer();
	jobs.add(std::move(job));
	return UBUS_STATUS_OK;
}

} // namespace vigil
