// What the service knows of its APs from polling them: the last answer of
// each telemetry method per AP, and bounded time series of a few numbers
// (CPU, clients, channel and power per radio) per AP, and of the RRM model
// cost per site and radio. Kept in memory: each series holds at most its
// last samples, answers are cut at a size limit.
#pragma once

#include <wlc/c/ubox.h>

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fleet {

inline constexpr size_t kMaxAnswerText = 16 * 1024;

struct RadioSample {
	int32_t radio = 0, channel = -1, power = -1000; // -1 / -1000: not reported
};

struct ApSample {
	int64_t at = 0;
	int32_t cpu = -1;     // busy percentage over the last minute; -1: not reported
	int32_t clients = -1; // associated stations; -1: not reported
	std::vector<RadioSample> radios;
};

struct CostSample {
	int64_t at = 0;
	int64_t cost = 0;
};

struct Answer {
	int64_t at = 0;
	std::string json; // the method's reply; "{}" when it was too large to keep
};

class TelemetryStore {
public:
	explicit TelemetryStore(size_t samples = 120);

	// Takes one AP's reply to a method ("health", "radio" or
	// "wireless_clients") polled at the round's time.
	void take(const std::string &ap, const std::string &method, blob_attr *reply, int64_t at);
	void take_cost(const std::string &site, int radio, int64_t cost, int64_t at);

	[[nodiscard]] std::optional<Answer> answer(const std::string &ap, const std::string &method) const;
	[[nodiscard]] std::vector<ApSample> series(const std::string &ap) const;
	[[nodiscard]] std::vector<CostSample> cost_series(const std::string &site, int radio) const;
	// The stations of the AP's newest sample that counted them; none when
	// no round has counted them yet.
	[[nodiscard]] std::optional<int32_t> clients(const std::string &ap) const;
	// Forgets what no longer concerns the service.
	void forget(const std::string &ap);

private:
	ApSample &sample_at(const std::string &ap, int64_t at);

	size_t samples_;
	std::map<std::string, std::map<std::string, Answer>> answers_;
	std::map<std::string, std::deque<ApSample>> series_;
	std::map<std::pair<std::string, int>, std::deque<CostSample>> costs_;
};

} // namespace fleet
