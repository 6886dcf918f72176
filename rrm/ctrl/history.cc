// Report histories over the device library's ring buffer.
#include "history.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace rrm {

History::History(uint64_t capacity, BssNames &names) : names_(names)
{
	auto *block = static_cast<zev_ring *>(std::malloc(zev_ring_memsize(sizeof(Entry), capacity)));
	if (!block)
		throw std::bad_alloc();
	ring_.reset(zev_ring_init(block, sizeof(Entry), capacity));
}

History::~History()
{
	Entry e;
	while (zev_ring_deq(ring_.get(), &e) == 0)
		PackedReport::release(const_cast<PackedReport *>(e.record), names_);
}

bool History::push(int64_t ts, const Record &record)
{
	PackedReport *packed = PackedReport::pack(record, names_);
	if (!packed)
		return false;
	Entry e{ts, packed};
	Entry dropped{0, nullptr};
	zev_ring_enq_f(ring_.get(), &e, &dropped);
	record_bytes_ += packed->memory();
	if (dropped.record) {
		record_bytes_ -= dropped.record->memory();
		PackedReport::release(const_cast<PackedReport *>(dropped.record), names_);
	}
	return true;
}

History::Entry History::newest(uint64_t i) const
{
	Entry e{0, nullptr};
	(void)zev_ring_at(ring_.get(), count() - 1 - i, &e);
	return e;
}

Record History::record(uint64_t i) const
{
	return newest(i).record->unpack(names_);
}

void History::encode(uint64_t i, wlc::BlobBuf &buf) const
{
	newest(i).record->encode(buf, names_);
}

void History::clamp_stamps(int64_t now)
{
	uint64_t n = count();
	for (uint64_t i = 0; i < n; i++) {
		Entry e;
		(void)zev_ring_deq(ring_.get(), &e);
		e.ts = std::min(e.ts, now);
		(void)zev_ring_enq(ring_.get(), &e);
	}
}

size_t History::memory() const
{
	return zev_ring_memsize(sizeof(Entry), zev_ring_capacity(ring_.get())) + record_bytes_;
}

} // namespace rrm
