// The report store: per AP and report kind, the newest reports with their
// arrival times, mirrored to one file per AP and kind so that a restarted
// controller keeps its recent history.
#pragma once

#include <wlc/blob.h>
#include <wlc/c/ubus.h>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/options.h"
#include "history.h"
#include "model.h"

namespace rrm {

enum Kind : size_t { kind_channels = 0, kind_bss = 1, kind_radio = 2, kind_count = 3 };

// The registered kinds, in registration order: "channels", "bss", "radio".
[[nodiscard]] std::optional<Kind> kind_by_name(std::string_view name);
[[nodiscard]] const char *kind_name(Kind k);
[[nodiscard]] std::unique_ptr<Record> decode_record(Kind k, const blob_attr *data);
void encode_record(wlc::BlobBuf &buf, const Record &r);

// AP ids name directories: empty ids, ids over 23 characters, ids starting
// with "." or holding "/" are refused.
[[nodiscard]] bool valid_ap_id(std::string_view id);

// The memory the histories may take, records and interned names included:
// beyond it the APs silent longest are forgotten (their files too). Files
// hold about what memory does, so this bounds them as well.
inline constexpr size_t default_max_store_bytes = static_cast<size_t>(default_store_budget_mib) << 20;
// The least an AP that reported takes in the store: the number of APs is
// bounded by the budget through it, so that APs with small reports cannot
// outnumber what the budget is sized for.
inline constexpr size_t min_ap_bytes = 1024;
[[nodiscard]] constexpr size_t max_aps_for(size_t max_bytes)
{
	return max_bytes / min_ap_bytes > 0 ? max_bytes / min_ap_bytes : 1;
}
inline constexpr size_t default_max_aps = max_aps_for(default_max_store_bytes);
// The most the first report table of a history file may hold (payload,
// padded): larger files are refused.
inline constexpr size_t max_file_payload = 131072;
// The most of a history file that is ever written or read back.
inline constexpr size_t max_file_bytes = max_file_payload + 4;
// Reports older than this are dropped when the files are read at start.
inline constexpr int64_t max_file_age_s = 86400;
// An AP has stopped reporting when its newest radio report is older than
// this many of its own report intervals (the longest gap between the radio
// reports it holds), and at least older than the floor: agents may pause a
// day between list scans, and such an AP must stay in the model meanwhile.
inline constexpr int64_t report_age_intervals = 3;
inline constexpr int64_t report_age_floor_s = 3600;

// One report read back from a history file.
struct LoadedReport {
	int64_t ts;
	std::unique_ptr<Record> record;
};


// What a history file's bytes hold: its reports oldest first, those older
// than oldest left out. A file is one or more history tables one after
// another; the first must be whole, and a damaged table after it (a write
// cut short) ends the file there.
struct ParsedHistory {
	std::vector<LoadedReport> entries;
	size_t tables = 0; // whole tables read
	bool clean = true; // every byte belongs to a whole table
};

// nullopt when the file must be refused: its first table is not a whole history.
[[nodiscard]] std::optional<ParsedHistory> parse_history_file(Kind k, const uint8_t *bytes, size_t len,
							      int64_t oldest);

class ReportStore {
public:
	using Clock = std::function<int64_t()>;

	ReportStore(std::string dir, uint64_t history_length, Clock clock, size_t max_aps = default_max_aps,
		    size_t max_bytes = default_max_store_bytes);

	// The clock's time. When it reads earlier than a stamp the store holds, the
	// clock has stepped back: every later stamp is taken as now (files
	// rewritten), so those reports age from now instead of living on.
	int64_t now();
	// A "report_add": a bus status (0, INVALID_ARGUMENT, UNKNOWN_ERROR).
	[[nodiscard]] int add(std::string_view kind, std::string_view id, const blob_attr *data);
	// Reads the files under the store directory; returns the APs loaded.
	size_t load();

	// What this process knows of one history file, so that a report can be
	// appended to it instead of the file being written whole.
	struct FileState {
		uint64_t bytes = 0;    // its size as last written or read
		uint64_t appended = 0; // reports added after the table written whole
		bool known = false;    // false: write it whole next time
	};
	struct ApRecord {
		std::array<std::unique_ptr<History>, kind_count> histories;
		std::array<FileState, kind_count> files = {};
		std::array<uint64_t, kind_count> received = {}; // reports taken since start
		int64_t last_seen = 0;                           // newest arrival of any kind
	};
	[[nodiscard]] const std::map<std::string, ApRecord> &aps() const { return aps_; }
	[[nodiscard]] const ApRecord *find(const std::string &id) const;
	[[nodiscard]] size_t count_aps(std::optional<Kind> kind = std::nullopt) const;
	[[nodiscard]] std::optional<Record> latest(Kind k, const std::string &id) const;
	[[nodiscard]] std::optional<int64_t> latest_time(Kind k, const std::string &id) const;
	// Bumped by every radio and BSS report: a model built at another value is old.
	[[nodiscard]] uint64_t generation() const { return generation_; }

	// The newest radio and BSS reports of every AP that has not stopped
	// reporting at now, in ascending id order, and the time at which the
	// first of them will have. The inputs point into the records decoded here.
	struct ModelInputs {
		std::vector<ModelInput> aps;
		int64_t valid_until = INT64_MAX;
		std::vector<RadioReport> radios;
		std::vector<std::optional<BssList>> heard;
	};
	[[nodiscard]] ModelInputs model_inputs(int64_t now) const;

	// "report_list": appends the listing to buf; a bus status.
	[[nodiscard]] int list(wlc::BlobBuf &buf, std::optional<std::string_view> kind, std::optional<std::string_view> id,
			       uint32_t limit, size_t max_bytes) const;

	// Bytes held, as counted against the budget.
	[[nodiscard]] size_t memory() const { return bytes_ + names_->memory(); }
	[[nodiscard]] const BssNames &names() const { return *names_; }
	[[nodiscard]] size_t max_bytes() const { return max_bytes_; }
	[[nodiscard]] const std::string &dir() const { return dir_; }

private:
	ApRecord &record_for(const std::string &id);
	void evict_oldest(const char *why, const std::string &keep = {});
	// Logs, once for each limit, that the store reached it.
	void limit_reached(bool by_count);
	void forget(std::map<std::string, ApRecord>::iterator it);
	// Counts an AP's bytes anew after a change and forgets the APs silent
	// longest (never keep) while the store is over its budget.
	void recount(const std::string &id, size_t before);
	[[nodiscard]] static size_t ap_memory(const std::string &id, const ApRecord &ap);
	[[nodiscard]] std::string file_path(const std::string &id, Kind k) const;
	void save(const std::string &id, Kind k, ApRecord &ap) const;
	void save_whole(const std::string &id, Kind k, ApRecord &ap) const;
	void take_future_as(int64_t now);
	void load_ap(const std::string &id);
	bool list_ap(wlc::BlobBuf &buf, Kind k, const std::string &id, const ApRecord &ap, uint32_t limit) const;

	std::string dir_; // device path
	uint64_t history_length_;
	Clock clock_;
	size_t max_aps_;
	size_t max_bytes_;
	size_t bytes_ = 0; // sum of ap_memory over the APs
	uint64_t generation_ = 0;
	int64_t newest_stamp_ = INT64_MIN; // the latest stamp held
	std::array<bool, 2> limit_logged_ = {}; // AP count, bytes
	mutable wlc::BlobBuf file_buf_;         // kept, so that its room is not grown anew for every file
	std::unique_ptr<BssNames> names_;    // outlives the histories in aps_
	std::map<std::string, ApRecord> aps_;
};

} // namespace rrm
