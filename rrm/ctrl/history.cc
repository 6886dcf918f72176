// Report histories over the device library's ring buffer.
#include "history.h"

#include <cstdlib>
#include <new>

namespace rrm {

History::History(uint64_t capacity)
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
		delete e.record;
}

void History::push(int64_t ts, std::unique_ptr<Record> record)
{
	Entry e{ts, record.get()};
	Entry dropped{0, nullptr};
	zev_ring_enq_f(ring_.get(), &e, &dropped);
	record.release();
	delete dropped.record;
}

History::Entry History::newest(uint64_t i) const
{
	Entry e{0, nullptr};
	(void)zev_ring_at(ring_.get(), count() - 1 - i, &e);
	return e;
}

size_t History::memory() const
{
	size_t bytes = zev_ring_memsize(sizeof(Entry), zev_ring_capacity(ring_.get()));
	for (uint64_t i = 0; i < count(); i++) {
		const Record *r = newest(i).record;
		bytes += sizeof(Record);
		if (auto *c = std::get_if<ChannelList>(r))
			bytes += c->capacity() * sizeof(zev_wifi_chan_stats);
		else if (auto *b = std::get_if<BssList>(r))
			bytes += b->capacity() * sizeof(zev_wifi_bss);
		else if (auto *radio = std::get_if<RadioReport>(r))
			bytes += radio->stations.capacity() * sizeof(zev_wifi_sta) + radio->bssids.capacity() * sizeof(Mac);
	}
	return bytes;
}

} // namespace rrm
