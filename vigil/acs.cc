// Channel selection on request: survey, select, switch, record.
#include "acs.h"

#include <fsroot/fsroot.h>
#include <wlc/log.h>
#include <zev/util.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "acs_select.h"

namespace vigil {

namespace {

enum { ACS_RADIO, ACS_ALG, ACS_CH_LIST, ACS_FORCE, ACS_SKIP_LIST, ACS_N };
constexpr std::array<blobmsg_policy, ACS_N> kAcsPolicy = {{
	{"radio", BLOBMSG_TYPE_INT32}, {"alg", BLOBMSG_TYPE_STRING}, {"ch_list", BLOBMSG_TYPE_ARRAY},
	{"force", BLOBMSG_TYPE_BOOL}, {"skip_list", BLOBMSG_TYPE_ARRAY},
}};

constexpr int kAcsInterval = 250;
constexpr int kPerChannelMs = 1000;

// What a selection knows about its radio before the survey.
struct RadioState {
	uint8_t radio = 0;
	bool force = false;
	int band = 0;
	int channel = 0;
	int bw = 0;
	uint64_t stations = 0;
};

bool is_up(const char *ifname)
{
	char state[128];
	return zev_net_iface_sys_param(ifname, "operstate", state, sizeof(state)) == 0 && std::strcmp(state, "up") == 0;
}

int visit_radio(const zev_wifi_iface *iface, void *user) noexcept
{
	auto &st = *static_cast<RadioState *>(user);
	if (iface->radio != st.radio)
		return 0;
	st.band = iface->band;
	if (!is_up(iface->ifname))
		return 0;
	if (st.channel == 0)
		st.channel = zev_wifi_iface_channel(iface->ifname);
	if (st.bw == 0)
		st.bw = zev_wifi_iface_chbw(iface->ifname);
	if (!st.force) {
		zev_wifi_sta_list *list = zev_wifi_iface_stations(iface->ifname);
		if (list)
			st.stations += list->count;
		std::free(list);
	}
	return 0;
}

void send_skip(wlc::BlobBuf &reply, const char *reason, const RadioState &st)
{
	reply.add("status", "skip");
	reply.add("reason", reason);
	reply.add_u32("bw", static_cast<uint32_t>(st.bw));
	reply.add_u32("ch_old", static_cast<uint32_t>(st.channel));
}

struct SetChannel {
	uint8_t radio;
	int channel;
	int mode; // 0: no secondary, 1: above, 2: below
	int outcome = -1;
	bool primary_moved = false;
};

int visit_set(const zev_wifi_iface *iface, void *user) noexcept
{
	auto &sc = *static_cast<SetChannel *>(user);
	if (iface->radio != sc.radio || !is_up(iface->ifname))
		return 0;
	sc.outcome = zev_wifi_iface_channel_set(iface->ifname, sc.channel);
	if (sc.outcome == 0) {
		sc.primary_moved = true;
		if (sc.mode != 0)
			sc.outcome = zev_wifi_iface_channel_ext_set(iface->ifname, sc.mode == 1 ? 1 : 0);
	}
	return 1;
}

// The last selected channel of the band, rewritten only when it changes.
void record_channel(int band, int channel)
{
	mkdir(wlc::root_path("/etc/wlc").c_str(), 0755);
	mkdir(wlc::root_path("/etc/wlc/acs").c_str(), 0755);
	std::string path = wlc::root_path("/etc/wlc/acs/radio" + std::to_string(band));
	int stored = -1;
	if (FILE *f = std::fopen(path.c_str(), "re")) {
		if (std::fscanf(f, "%d", &stored) != 1)
			stored = -1;
		std::fclose(f);
	}
	if (stored == channel)
		return;
	// Replaced whole: a crash or power cut mid-write leaves the old record, never an empty one.
	std::string tmp = path + ".tmp";
	FILE *f = std::fopen(tmp.c_str(), "we");
	if (!f)
		return;
	bool ok = std::fprintf(f, "%d", channel) > 0 && std::fflush(f) == 0 && fsync(fileno(f)) == 0;
	ok = std::fclose(f) == 0 && ok;
	if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0)
		std::remove(tmp.c_str());
}

struct Selection {
	RadioState radio;
	AcsPolicy policy;
	std::vector<int> skip;
};

// The outcome of a finished survey: the reply to send.
void finish(const Selection &sel, ScanJob &job, bool timed_out, wlc::BlobBuf &reply)
{
	const RadioState &st = sel.radio;
	std::optional<ChannelGroups> groups = timed_out ? std::nullopt : read_channel_groups();
	AcsInput in{sel.policy, band_kind(st.band, st.channel), st.bw, job.surveys(), job.bss(), sel.skip};
	int result = groups ? acs_select(in, *groups) : 0;
	if (result == 0) {
		send_skip(reply, "error", st);
		return;
	}
	SetChannel sc{st.radio, result > 0 ? result : -result, 0};
	if (in.kind == BandKind::Overlap && st.bw > 20)
		sc.mode = result < 0 ? 2 : 1;
	if (zev_wifi_iface_iter(visit_set, &sc) != 0)
		sc.outcome = -1;
	// A primary that moved is the radio's channel now, whatever became of the secondary.
	if (sc.primary_moved)
		record_channel(st.band, sc.channel);
	if (sc.outcome != 0) {
		send_skip(reply, "error", st);
		return;
	}
	reply.add("status", "done");
	reply.add_u32("band", static_cast<uint32_t>(st.band));
	reply.add_u32("bw", static_cast<uint32_t>(st.bw));
	reply.add_u32("ch_old", static_cast<uint32_t>(st.channel));
	reply.add_u32("ch_new", static_cast<uint32_t>(sc.channel));
}

std::vector<int> skip_list(blob_attr *list)
{
	std::vector<int> out;
	if (!list)
		return out;
	blob_attr *cur;
	size_t rem;
	blobmsg_for_each_attr(cur, list, rem) {
		if (blobmsg_type(cur) == BLOBMSG_TYPE_INT32 && out.size() < ScanJob::kMaxChannels)
			out.push_back(static_cast<int32_t>(blobmsg_get_u32(cur)));
	}
	return out;
}

} // namespace

int radio_acs_method(JobList &jobs, wlc::Request &req, blob_attr *msg)
{
	wlc::Fields<ACS_N> f;
	f.parse(kAcsPolicy, msg);
	auto radio = f.u32(ACS_RADIO);
	auto alg = f.str(ACS_ALG);
	std::optional<AcsPolicy> policy = alg ? acs_policy(*alg) : std::nullopt;
	std::optional<std::vector<int>> channels = channel_list(f[ACS_CH_LIST]);
	if (!radio || !policy || !channels)
		return UBUS_STATUS_INVALID_ARGUMENT;
	Selection sel{{}, *policy, skip_list(f[ACS_SKIP_LIST])};
	sel.radio.radio = static_cast<uint8_t>(*radio & 0xFF);
	sel.radio.force = f.boolean(ACS_FORCE).value_or(false);
	if (zev_wifi_iface_iter(visit_radio, &sel.radio) != 0 || sel.radio.channel < 1)
		return UBUS_STATUS_UNKNOWN_ERROR;
	const char *refused = !sel.radio.force && sel.radio.stations > 0 ? "clients"
			      : jobs.busy(sel.radio.radio)			  ? "running"
										  : nullptr;
	if (refused) {
		wlc::BlobBuf reply;
		send_skip(reply, refused, sel.radio);
		req.reply(reply);
		return UBUS_STATUS_OK;
	}
	ScanJob::Settings s{sel.radio.radio, 1, kAcsInterval, *channels,
			    static_cast<int>(std::min(channels->size(), ScanJob::kMaxChannels)) * kPerChannelMs};
	auto job = std::make_unique<ScanJob>(std::move(s), [sel, &jobs](ScanJob &j, bool timed_out) {
		wlc::BlobBuf out;
		finish(sel, j, timed_out, out);
		j.request.reply(out);
		j.request.complete(UBUS_STATUS_OK);
		jobs.release_later();
	});
	if (!job->start())
		return UBUS_STATUS_UNKNOWN_ERROR;
	job->request = req.defer();
	jobs.add(std::move(job));
	return UBUS_STATUS_OK;
}

} // namespace vigil
