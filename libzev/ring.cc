// Fixed-capacity FIFO in one caller-allocated block.
#include <zev/ring.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

unsigned char *slot(zev_ring *r, uint64_t index)
{
	return r->elements + index * r->element_size;
}

void append(zev_ring *r, const void *element)
{
	std::memcpy(slot(r, r->tail), element, r->element_size);
	r->count++;
	r->tail = (r->tail + 1) % r->capacity;
}

void remove_oldest(zev_ring *r, void *dst)
{
	if (dst)
		std::memcpy(dst, slot(r, r->head), r->element_size);
	r->count--;
	r->head = (r->head + 1) % r->capacity;
}

} // namespace

extern "C" {

uint64_t zev_ring_memsize(uint64_t element_size, uint64_t capacity)
{
	return element_size * capacity + sizeof(zev_ring);
}

zev_ring *zev_ring_init(zev_ring *ring, uint64_t element_size, uint64_t capacity)
{
	ring->element_size = element_size;
	ring->capacity = capacity;
	zev_ring_reset(ring);
	return ring;
}

void zev_ring_free(zev_ring *ring)
{
	std::free(ring);
}

void zev_ring_reset(zev_ring *ring)
{
	ring->count = ring->head = ring->tail = 0;
}

bool zev_ring_full(const zev_ring *ring) { return ring->count == ring->capacity; }
bool zev_ring_empty(const zev_ring *ring) { return ring->count == 0; }
uint64_t zev_ring_capacity(const zev_ring *ring) { return ring->capacity; }
uint64_t zev_ring_count(const zev_ring *ring) { return ring->count; }
uint64_t zev_ring_free_count(const zev_ring *ring) { return ring->capacity - ring->count; }

int zev_ring_enq(zev_ring *ring, const void *element)
{
	if (zev_ring_full(ring))
		return -ENOBUFS;
	append(ring, element);
	return 0;
}

int zev_ring_deq(zev_ring *ring, void *dst)
{
	if (zev_ring_empty(ring))
		return -ENOENT;
	remove_oldest(ring, dst);
	return 0;
}

void zev_ring_enq_f(zev_ring *ring, const void *element, void *dropped)
{
	if (ring->capacity == 0)
		return;
	if (zev_ring_full(ring))
		remove_oldest(ring, dropped);
	append(ring, element);
}

int zev_ring_at(const zev_ring *ring, uint64_t index, void *dst)
{
	if (index >= ring->count)
		return -ENOENT;
	auto *r = const_cast<zev_ring *>(ring);
	std::memcpy(dst, slot(r, (ring->head + index) % ring->capacity), ring->element_size);
	return 0;
}

uint64_t zev_ring_iter(zev_ring *ring, uint64_t n, zev_ring_visit_cb visit, void *user)
{
	uint64_t m = n < ring->count ? n : ring->count;
	for (uint64_t k = 0; k < m; k++)
		visit(slot(ring, (ring->head + k) % ring->capacity), user);
	return m;
}

uint64_t zev_ring_iter_r(zev_ring *ring, uint64_t n, zev_ring_visit_cb visit, void *user)
{
	uint64_t m = n < ring->count ? n : ring->count;
	for (uint64_t k = 0; k < m; k++)
		visit(slot(ring, (ring->tail + ring->capacity - 1 - k) % ring->capacity), user);
	return m;
}

int64_t zev_ring_sum_cb(void *element, zev_ring_sum_ctx *ctx)
{
	ctx->sum += ctx->value_of(element);
	return ctx->sum;
}

double zev_ring_avg_cb(void *element, zev_ring_avg_ctx *ctx)
{
	ctx->sum += ctx->value_of(element);
	return ctx->sum;
}

} // extern "C"
