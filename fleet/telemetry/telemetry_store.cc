// Telemetry kept per AP.
#include "telemetry_store.h"

#include <wlc/blob.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace fleet {

namespace {

// The named field of a table (checked), null when absent.
blob_attr *member(blob_attr *table, const char *name)
{
	blob_attr *pos;
	size_t rem;
	blobmsg_for_each_attr(pos, table, rem)
	{
		if (blob_is_extended(pos) && blobmsg_check_attr(pos, true) && std::strcmp(blobmsg_name(pos), name) == 0)
			return pos;
	}
	return nullptr;
}

std::optional<int32_t> int_member(blob_attr *table, const char *name)
{
	blob_attr *a = member(table, name);
	if (!a || blobmsg_type(a) != BLOBMSG_TYPE_INT32)
		return std::nullopt;
	return static_cast<int32_t>(blobmsg_get_u32(a));
}

// The middle of "cpu": [5 s, 1 min, 5 min].
int32_t cpu_of(blob_attr *health)
{
	blob_attr *cpu = member(health, "cpu");
	if (!cpu || blobmsg_type(cpu) != BLOBMSG_TYPE_ARRAY)
		return -1;
	blob_attr *pos;
	size_t rem;
	int i = 0;
	blobmsg_for_each_attr(pos, cpu, rem)
	{
		if (i++ == 1 && blobmsg_type(pos) == BLOBMSG_TYPE_INT32)
			return static_cast<int32_t>(blobmsg_get_u32(pos));
	}
	return -1;
}

int32_t clients_of(blob_attr *reply)
{
	blob_attr *list = member(reply, "clients");
	if (!list || blobmsg_type(list) != BLOBMSG_TYPE_ARRAY)
		return -1;
	int32_t n = 0;
	blob_attr *pos;
	size_t rem;
	blobmsg_for_each_attr(pos, list, rem)
		n++;
	return n;
}

// One entry per radio table, named by its index.
std::vector<RadioSample> radios_of(blob_attr *reply)
{
	std::vector<RadioSample> out;
	blob_attr *pos;
	size_t rem;
	blobmsg_for_each_attr(pos, reply, rem)
	{
		if (!blob_is_extended(pos) || !blobmsg_check_attr(pos, true) || blobmsg_type(pos) != BLOBMSG_TYPE_TABLE)
			continue;
		char *end = nullptr;
		long index = std::strtol(blobmsg_name(pos), &end, 10);
		if (*end || index < 0 || index > 255)
			continue;
		out.push_back({static_cast<int32_t>(index), int_member(pos, "channel").value_or(-1),
			       int_member(pos, "power").value_or(-1000)});
	}
	return out;
}

} // namespace

TelemetryStore::TelemetryStore(size_t samples) : samples_(samples) {}

ApSample &TelemetryStore::sample_at(const std::string &ap, int64_t at)
{
	std::deque<ApSample> &s = series_[ap];
	if (s.empty() || s.back().at != at) {
		s.push_back({at, -1, -1, {}});
		while (s.size() > samples_)
			s.pop_front();
	}
	return s.back();
}

void TelemetryStore::take(const std::string &ap, const std::string &method, blob_attr *reply, int64_t at)
{
	wlc::BlobBuf copy;
	copy.add_fields(reply);
	std::string json = copy.json();
	answers_[ap][method] = {at, json.size() > kMaxAnswerText ? std::string("{}") : json};
	ApSample &s = sample_at(ap, at);
	if (method == "health")
		s.cpu = cpu_of(reply);
	else if (method == "wireless_clients")
		s.clients = clients_of(reply);
	else if (method == "radio")
		s.radios = radios_of(reply);
}

void TelemetryStore::take_cost(const std::string &site, int radio, int64_t cost, int64_t at)
{
	std::deque<CostSample> &s = costs_[{site, radio}];
	s.push_back({at, cost});
	while (s.size() > samples_)
		s.pop_front();
}

std::optional<Answer> TelemetryStore::answer(const std::string &ap, const std::string &method) const
{
	auto a = answers_.find(ap);
	if (a == answers_.end())
		return std::nullopt;
	auto m = a->second.find(method);
	if (m == a->second.end())
		return std::nullopt;
	return m->second;
}

std::vector<ApSample> TelemetryStore::series(const std::string &ap) const
{
	auto it = series_.find(ap);
	return it == series_.end() ? std::vector<ApSample>{} : std::vector<ApSample>(it->second.begin(), it->second.end());
}

std::vector<CostSample> TelemetryStore::cost_series(const std::string &site, int radio) const
{
	auto it = costs_.find({site, radio});
	return it == costs_.end() ? std::vector<CostSample>{}
				  : std::vector<CostSample>(it->second.begin(), it->second.end());
}

std::optional<int32_t> TelemetryStore::clients(const std::string &ap) const
{
	auto it = series_.find(ap);
	if (it == series_.end())
		return std::nullopt;
	auto counted = std::find_if(it->second.rbegin(), it->second.rend(), [](const ApSample &s) { return s.clients >= 0; });
	return counted == it->second.rend() ? std::nullopt : std::optional<int32_t>(counted->clients);
}

void TelemetryStore::forget(const std::string &ap)
{
	answers_.erase(ap);
	series_.erase(ap);
}

} // namespace fleet
