// The report store in memory: adding, querying and listing reports.
#include "store.h"

#include <wlc/log.h>

#include <algorithm>
#include <new>

namespace rrm {

namespace {

constexpr std::array<const char *, kind_count> kind_names = {"channels", "bss", "radio"};

template <typename T>
std::unique_ptr<Record> wrap(std::optional<T> v)
{
	return v ? std::make_unique<Record>(std::move(*v)) : nullptr;
}

} // namespace

std::optional<Kind> kind_by_name(std::string_view name)
{
	for (size_t k = 0; k < kind_count; k++)
		if (name == kind_names[k])
			return static_cast<Kind>(k);
	return std::nullopt;
}

const char *kind_name(Kind k)
{
	return kind_names[k];
}

std::unique_ptr<Record> decode_record(Kind k, const blob_attr *data)
{
	switch (k) {
	case kind_channels:
		return wrap(decode_channels(data));
	case kind_bss:
		return wrap(decode_bss(data));
	default:
		return wrap(decode_radio(data));
	}
}

void encode_record(wlc::BlobBuf &buf, const Record &r)
{
	std::visit(
		[&buf](const auto &v) {
			using T = std::decay_t<decltype(v)>;
			if constexpr (std::is_same_v<T, ChannelList>)
				encode_channels(buf, v);
			else if constexpr (std::is_same_v<T, BssList>)
				encode_bss(buf, v);
			else
				encode_radio(buf, v);
		},
		r);
}

bool valid_ap_id(std::string_view id)
{
	return !id.empty() && id.size() <= 23 && id[0] != '.' && id.find('/') == std::string_view::npos;
}

ReportStore::ReportStore(std::string dir, uint64_t history_length, Clock clock, size_t max_aps, size_t max_bytes)
	: dir_(std::move(dir)), history_length_(std::max<uint64_t>(history_length, 1)), clock_(std::move(clock)),
	  max_aps_(std::max<size_t>(max_aps, 1)), max_bytes_(max_bytes), names_(std::make_unique<BssNames>())
{
}

ReportStore::ApRecord &ReportStore::record_for(const std::string &id)
{
	auto it = aps_.find(id);
	if (it != aps_.end())
		return it->second;
	if (aps_.size() >= max_aps_) {
		limit_reached(true);
		evict_oldest("too many APs");
	}
	return aps_[id];
}

void ReportStore::limit_reached(bool by_count)
{
	bool &logged = limit_logged_[by_count ? 0 : 1];
	if (logged)
		return;
	logged = true;
	if (by_count)
		wlc::logf(LOG_WARNING, "report store holds its most of %zu APs: the APs silent longest are forgotten",
			  max_aps_);
	else
		wlc::logf(LOG_WARNING,
			  "report store reached its budget of %zu bytes with %zu APs: the APs silent longest are forgotten",
			  max_bytes_, aps_.size());
}

int ReportStore::add(std::string_view kind, std::string_view id, const blob_attr *data)
{
	std::optional<Kind> k = kind_by_name(kind);
	if (!k || !data)
		return UBUS_STATUS_INVALID_ARGUMENT;
	if (!valid_ap_id(id)) {
		wlc::logf(LOG_WARNING, "refused %s report: bad AP id", kind_name(*k));
		return UBUS_STATUS_INVALID_ARGUMENT;
	}
	std::unique_ptr<Record> record = decode_record(*k, data);
	if (!record)
		return UBUS_STATUS_INVALID_ARGUMENT;
	int64_t now = this->now();
	std::string key(id);
	const ApRecord *known = find(key);
	size_t before = known ? ap_memory(key, *known) : 0;
	ApRecord &ap = record_for(key);
	auto &h = ap.histories[*k];
	try {
		if (!h)
			h = std::make_unique<History>(history_length_, *names_);
	} catch (const std::bad_alloc &) {
		recount(key, before);
		return UBUS_STATUS_UNKNOWN_ERROR;
	}
	if (!h->push(now, *record)) {
		recount(key, before);
		return UBUS_STATUS_UNKNOWN_ERROR;
	}
	newest_stamp_ = std::max(newest_stamp_, now);
	ap.received[*k]++;
	ap.last_seen = std::max(ap.last_seen, now);
	if (*k != kind_channels)
		generation_++;
	save(key, *k, ap);
	recount(key, before);
	return 0;
}

int64_t ReportStore::now()
{
	int64_t now = clock_();
	if (now < newest_stamp_) {
		wlc::logf(LOG_NOTICE, "clock stepped back, reports stamped later than now are taken as now");
		take_future_as(now);
	}
	return now;
}

namespace {

bool stamped_after(const History &h, int64_t now)
{
	for (uint64_t i = 0; i < h.count(); i++)
		if (h.time(i) > now)
			return true;
	return false;
}

} // namespace

void ReportStore::take_future_as(int64_t now)
{
	for (auto &[id, ap] : aps_) {
		ap.last_seen = std::min(ap.last_seen, now);
		for (size_t k = 0; k < kind_count; k++) {
			std::unique_ptr<History> &h = ap.histories[k];
			if (!h || !stamped_after(*h, now))
				continue;
			h->clamp_stamps(now);
			save_whole(id, static_cast<Kind>(k), ap);
		}
	}
	newest_stamp_ = now;
	generation_++;
	bytes_ = 0;
	for (const auto &[id, ap] : aps_)
		bytes_ += ap_memory(id, ap);
}

const ReportStore::ApRecord *ReportStore::find(const std::string &id) const
{
	auto it = aps_.find(id);
	return it == aps_.end() ? nullptr : &it->second;
}

size_t ReportStore::count_aps(std::optional<Kind> kind) const
{
	if (!kind)
		return aps_.size();
	return static_cast<size_t>(std::count_if(aps_.begin(), aps_.end(), [k = *kind](const auto &ap) {
		return ap.second.histories[k] && !ap.second.histories[k]->empty();
	}));
}

std::optional<Record> ReportStore::latest(Kind k, const std::string &id) const
{
	const ApRecord *ap = find(id);
	if (!ap || !ap->histories[k] || ap->histories[k]->empty())
		return std::nullopt;
	return ap->histories[k]->record(0);
}

std::optional<int64_t> ReportStore::latest_time(Kind k, const std::string &id) const
{
	const ApRecord *ap = find(id);
	if (!ap || !ap->histories[k] || ap->histories[k]->empty())
		return std::nullopt;
	return ap->histories[k]->time(0);
}

namespace {

// The last moment an AP with this radio history is still taken as reporting.
int64_t reporting_until(const History &radio)
{
	int64_t gap = 0;
	for (uint64_t i = 1; i < radio.count(); i++)
		gap = std::max(gap, radio.time(i - 1) - radio.time(i));
	return radio.time(0) + std::max(report_age_floor_s, gap * report_age_intervals);
}

} // namespace

ReportStore::ModelInputs ReportStore::model_inputs(int64_t now) const
{
	ModelInputs in;
	std::vector<const std::string *> ids;
	for (const auto &[id, ap] : aps_) {
		const History *radio = ap.histories[kind_radio].get();
		if (!radio || radio->empty())
			continue;
		int64_t until = reporting_until(*radio);
		if (until < now)
			continue;
		in.valid_until = std::min(in.valid_until, until);
		const History *bss = ap.histories[kind_bss].get();
		ids.push_back(&id);
		in.radios.push_back(std::get<RadioReport>(radio->record(0)));
		in.heard.push_back(bss && !bss->empty() ? std::optional(std::get<BssList>(bss->record(0))) : std::nullopt);
	}
	// Only now that the records stay where they are.
	for (size_t i = 0; i < ids.size(); i++)
		in.aps.push_back({*ids[i], &in.radios[i], in.heard[i] ? &*in.heard[i] : nullptr});
	return in;
}

bool ReportStore::list_ap(wlc::BlobBuf &buf, Kind k, const std::string &id, const ApRecord &ap, uint32_t limit) const
{
	auto t = buf.table(id.c_str());
	const History *h = ap.histories[k].get();
	if (!h || h->empty())
		return true;
	auto reports = buf.array("reports");
	for (uint64_t i = 0; i < h->count() && i < limit; i++) {
		auto entry = buf.table();
		buf.add_u64("ts", static_cast<uint64_t>(h->time(i)));
		auto data = buf.table("data");
		h->encode(i, buf);
	}
	return true;
}

int ReportStore::list(wlc::BlobBuf &buf, std::optional<std::string_view> kind, std::optional<std::string_view> id,
		      uint32_t limit, size_t max_bytes) const
{
	std::optional<Kind> only;
	if (kind && !(only = kind_by_name(*kind)))
		return UBUS_STATUS_INVALID_ARGUMENT;
	if (id && !find(std::string(*id)))
		return UBUS_STATUS_NO_DATA;
	auto too_big = [&buf, max_bytes] { return blob_raw_len(buf.head()) > max_bytes; };
	auto list_kind = [&](Kind k) {
		for (const auto &[ap_id, ap] : aps_) {
			if (id && ap_id != *id)
				continue;
			list_ap(buf, k, ap_id, ap, limit);
			if (too_big())
				return false;
		}
		return true;
	};
	if (only)
		return list_kind(*only) ? 0 : UBUS_STATUS_UNKNOWN_ERROR;
	for (size_t k = 0; k < kind_count; k++) {
		auto t = buf.table(kind_names[k]);
		if (!list_kind(static_cast<Kind>(k)))
			return UBUS_STATUS_UNKNOWN_ERROR;
	}
	return 0;
}

size_t ReportStore::ap_memory(const std::string &id, const ApRecord &ap)
{
	size_t bytes = sizeof(ApRecord) + id.capacity() + 4 * sizeof(void *); // record and tree node
	for (const auto &h : ap.histories)
		if (h)
			bytes += sizeof(History) + h->memory();
	return bytes;
}

void ReportStore::recount(const std::string &id, size_t before)
{
	auto it = aps_.find(id);
	if (it == aps_.end())
		return;
	bytes_ = bytes_ - std::min(bytes_, before) + ap_memory(id, it->second);
	while (memory() > max_bytes_ && aps_.size() > 1) {
		limit_reached(false);
		std::string why = "report store over its budget of " + std::to_string(max_bytes_) + " bytes";
		evict_oldest(why.c_str(), id);
	}
}

} // namespace rrm
