// The listed fields of every AP held in memory, in identifier order, so that
// listings, filtered look-ups and counts read no file. The inventory keeps it
// equal to its table of APs after every change it commits.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "inventory.h"

namespace fleet {

class ApTable {
public:
	ApTable() = default;
	// Its indexes point into its rows.
	ApTable(const ApTable &) = delete;
	ApTable &operator=(const ApTable &) = delete;

	// Adds the AP, or replaces what was held of it (certificate and custom
	// configuration aside: a listing does not carry them).
	void put(const ApRecord &r);
	void erase(std::string_view id);
	void clear();
	[[nodiscard]] size_t size() const { return rows_.size(); }

	// The APs that pass the filter, by identifier, from offset on, at most
	// limit (a negative limit: all); as a listing of the file gives them.
	[[nodiscard]] std::vector<ApRecord> list(const ApFilter &filter) const;
	// How many APs pass the filter (offset and limit aside).
	[[nodiscard]] int64_t count(const ApFilter &filter) const;

private:
	// The texts of a row after its identifier, in this order.
	enum Text { site, model, serial, mac, fw_version, fw_revision, ip, hostname, kTexts };

	// One AP's fields: its texts end to end in one string (one allocation
	// per AP rather than one per long field).
	struct Row {
		std::string texts;
		std::array<uint32_t, kTexts> ends{};
		ApState state = ApState::pending;
		bool online = false;
		int64_t first_seen = 0, last_seen = 0;

		[[nodiscard]] std::string_view text(Text t) const;
	};
	using Rows = std::map<std::string, Row, std::less<>>;
	// The rows of one site, model or state, sorted by identifier (rows stay
	// where they are in the map, so pointers to them hold). A sorted array
	// takes a pointer's room per AP; it changes only when an AP comes, goes
	// or changes site, model or state.
	using Entry = const Rows::value_type *;
	using Index = std::vector<Entry>;
	using Indexes = std::map<std::string, Index, std::less<>>;

	static bool passes(const Row &row, const ApFilter &filter);
	// A listing's record of the row (built in place: a listing is large).
	static void fill(ApRecord &r, const std::string &id, const Row &row);
	// The first row a listing of every AP from offset on reads.
	Rows::const_iterator start(int64_t offset) const;
	std::vector<ApRecord> scan_all(const ApFilter &filter) const;
	// The smallest index that holds every row passing the filter; null
	// without a filter.
	const Index *candidates(const ApFilter &filter) const;
	void index(Entry e);
	void unindex(Entry e);

	Rows rows_;
	Indexes by_site_, by_model_;
	std::array<Index, 5> by_state_;
};

} // namespace fleet
