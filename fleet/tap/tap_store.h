// What the broker tap heard, kept in memory for the operator: the last log
// lines of each AP, and the last channel and power commands of each site's
// radio. Both are bounded: per AP, per site and radio, and (log lines) in
// bytes overall, the oldest going first.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fleet {

struct LogLine {
	int64_t at = 0; // when the tap received it
	uint32_t priority = 0;
	std::string msg;
};

struct RrmCommand {
	int64_t at = 0;
	std::string ap; // an AP's identifier, or "all"
	int32_t radio = 0;
	std::optional<int32_t> channel, power;
};

struct TapLimits {
	size_t lines_per_ap = 100;
	size_t log_bytes = 2 * 1024 * 1024;
	size_t commands = 50; // per site and radio
	size_t max_msg = 1024; // longer log texts are cut
	size_t command_lists = 1024; // sites times radios; commands for further ones are not kept
};

class TapStore {
public:
	explicit TapStore(TapLimits limits = {}) : limits_(limits) {}

	void add_line(const std::string &ap, LogLine line);
	void add_command(const std::string &site, RrmCommand command);

	// The AP's last lines (at most n), newest last.
	[[nodiscard]] std::vector<LogLine> lines(const std::string &ap, size_t n) const;
	// The site's radio's last commands (at most n), newest last.
	[[nodiscard]] std::vector<RrmCommand> commands(const std::string &site, int32_t radio, size_t n) const;
	// What the kept log lines are counted as against the overall bound.
	[[nodiscard]] size_t log_bytes() const { return log_bytes_; }
	[[nodiscard]] const TapLimits &limits() const { return limits_; }

private:
	struct Kept {
		uint64_t seq = 0;
		LogLine line;
	};

	static size_t cost(const std::string &ap, const LogLine &line);
	void drop_front(const std::string &ap);
	void drop_oldest();

	TapLimits limits_;
	uint64_t next_seq_ = 0;
	size_t log_bytes_ = 0;
	std::map<std::string, std::deque<Kept>> logs_;
	std::map<uint64_t, std::string> fronts_; // each AP's oldest line: its sequence number, the AP
	std::map<std::pair<std::string, int32_t>, std::deque<RrmCommand>> commands_;
};

} // namespace fleet
