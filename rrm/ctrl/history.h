// One AP's history of one report kind: the newest reports with their arrival
// times, in a fixed-capacity ring of 16-byte entries that owns the compact
// records.
#pragma once

#include <zev/ring.h>

#include <cstdint>
#include <memory>

#include "packed.h"

namespace rrm {

class History {
public:
	struct Entry {
		int64_t ts;
		const PackedReport *record;
	};
	static_assert(sizeof(Entry) == 16);

	History(uint64_t capacity, BssNames &names);
	~History();
	History(const History &) = delete;
	History &operator=(const History &) = delete;

	// Appends, dropping (and releasing) the oldest entry when full; false
	// when memory for the record runs out (nothing changes then).
	bool push(int64_t ts, const Record &record);
	[[nodiscard]] uint64_t count() const { return zev_ring_count(ring_.get()); }
	[[nodiscard]] bool empty() const { return count() == 0; }
	// i = 0 is the newest entry; i must be below count().
	[[nodiscard]] Entry newest(uint64_t i) const;
	[[nodiscard]] int64_t time(uint64_t i) const { return newest(i).ts; }
	// The decoded record of entry i.
	[[nodiscard]] Record record(uint64_t i) const;
	// Appends entry i's encoding to the table open in buf.
	void encode(uint64_t i, wlc::BlobBuf &buf) const;
	// Takes every stamp later than now as now.
	void clamp_stamps(int64_t now);
	// Bytes held, records included (the interned names are the store's).
	[[nodiscard]] size_t memory() const;

private:
	struct Free {
		void operator()(zev_ring *r) const noexcept { zev_ring_free(r); }
	};
	std::unique_ptr<zev_ring, Free> ring_;
	BssNames &names_;
	size_t record_bytes_ = 0;
};

} // namespace rrm
