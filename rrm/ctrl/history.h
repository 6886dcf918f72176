// One AP's history of one report kind: the newest reports with their arrival
// times, in a fixed-capacity ring of 16-byte entries that owns the records.
#pragma once

#include <zev/ring.h>

#include <cstdint>
#include <memory>
#include <variant>

#include "common/codec.h"

namespace rrm {

using Record = std::variant<ChannelList, BssList, RadioReport>;

class History {
public:
	struct Entry {
		int64_t ts;
		const Record *record;
	};
	static_assert(sizeof(Entry) == 16);

	explicit History(uint64_t capacity);
	~History();
	History(const History &) = delete;
	History &operator=(const History &) = delete;

	// Appends, dropping (and releasing) the oldest entry when full.
	void push(int64_t ts, std::unique_ptr<Record> record);
	[[nodiscard]] uint64_t count() const { return zev_ring_count(ring_.get()); }
	[[nodiscard]] bool empty() const { return count() == 0; }
	// i = 0 is the newest entry; i must be below count().
	[[nodiscard]] Entry newest(uint64_t i) const;
	// Bytes held, records included (approximate for the records' heap blocks).
	[[nodiscard]] size_t memory() const;

private:
	struct Free {
		void operator()(zev_ring *r) const noexcept { zev_ring_free(r); }
	};
	std::unique_ptr<zev_ring, Free> ring_;
};

} // namespace rrm
