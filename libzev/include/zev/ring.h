/* Fixed-capacity FIFO of fixed-size elements held in one block with its header. */
#ifndef ZEV_RING_H
#define ZEV_RING_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct zev_ring {
	uint64_t element_size;
	uint64_t capacity;
	uint64_t count;
	uint64_t head; /* slot of the oldest element */
	uint64_t tail; /* slot the next element goes to */
	unsigned char elements[];
};

/* Visitor: the element in place and the user data; its result is ignored. */
typedef void (*zev_ring_visit_cb)(void *element, void *user);

struct zev_ring_sum_ctx {
	int64_t (*value_of)(const void *element);
	int64_t sum;
};

struct zev_ring_avg_ctx {
	double (*value_of)(const void *element);
	double sum;
};

uint64_t zev_ring_memsize(uint64_t element_size, uint64_t capacity);
struct zev_ring *zev_ring_init(struct zev_ring *ring, uint64_t element_size, uint64_t capacity);
void zev_ring_free(struct zev_ring *ring);
void zev_ring_reset(struct zev_ring *ring);
bool zev_ring_full(const struct zev_ring *ring);
bool zev_ring_empty(const struct zev_ring *ring);
uint64_t zev_ring_capacity(const struct zev_ring *ring);
uint64_t zev_ring_count(const struct zev_ring *ring);
uint64_t zev_ring_free_count(const struct zev_ring *ring);
/* 0, or -105 (-ENOBUFS) when full */
int zev_ring_enq(struct zev_ring *ring, const void *element);
/* 0, or -2 (-ENOENT) when empty; dst may be null */
int zev_ring_deq(struct zev_ring *ring, void *dst);
/* Appends, first dropping the oldest element (copied to dropped when given) when full. */
void zev_ring_enq_f(struct zev_ring *ring, const void *element, void *dropped);
/* Element at logical position index (0 = oldest); 0, or -2 when index >= count. */
int zev_ring_at(const struct zev_ring *ring, uint64_t index, void *dst);
/* Visit the min(n, count) oldest elements oldest first / newest elements newest first. */
uint64_t zev_ring_iter(struct zev_ring *ring, uint64_t n, zev_ring_visit_cb visit, void *user);
uint64_t zev_ring_iter_r(struct zev_ring *ring, uint64_t n, zev_ring_visit_cb visit, void *user);

/* Stock accumulators: add value_of(element) to ctx->sum and return the new sum.
 * Call them from a visitor, e.g. one that passes its user data on as ctx. */
int64_t zev_ring_sum_cb(void *element, struct zev_ring_sum_ctx *ctx);
double zev_ring_avg_cb(void *element, struct zev_ring_avg_ctx *ctx);

#ifdef __cplusplus
}
#endif

#endif
