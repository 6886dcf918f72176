// The ring buffer and MD5.
#include <zev/md5.h>
#include <zev/ring.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct RingDeleter {
	void operator()(zev_ring *r) const { zev_ring_free(r); }
};
using RingPtr = std::unique_ptr<zev_ring, RingDeleter>;

RingPtr make_ring(uint64_t capacity)
{
	auto *r = static_cast<zev_ring *>(std::malloc(zev_ring_memsize(sizeof(int), capacity)));
	return RingPtr(zev_ring_init(r, sizeof(int), capacity));
}

std::vector<int> visit(zev_ring *r, uint64_t n, bool reverse, uint64_t *visited = nullptr)
{
	std::vector<int> seen;
	auto cb = [](void *e, void *user) { static_cast<std::vector<int> *>(user)->push_back(*static_cast<int *>(e)); };
	uint64_t m = reverse ? zev_ring_iter_r(r, n, cb, &seen) : zev_ring_iter(r, n, cb, &seen);
	if (visited)
		*visited = m;
	return seen;
}

TEST(Ring, LayoutAndBasicOperations)
{
	EXPECT_EQ(zev_ring_memsize(4, 10), 40u + 40u);
	EXPECT_EQ(offsetof(zev_ring, elements), 40u);
	auto r = make_ring(3);
	EXPECT_TRUE(zev_ring_empty(r.get()));
	int v = 0;
	EXPECT_EQ(zev_ring_deq(r.get(), &v), -2);
	for (int i : {1, 2, 3})
		EXPECT_EQ(zev_ring_enq(r.get(), &i), 0);
	EXPECT_TRUE(zev_ring_full(r.get()));
	EXPECT_EQ(zev_ring_free_count(r.get()), 0u);
	int four = 4;
	uint64_t head = r->head, tail = r->tail;
	EXPECT_EQ(zev_ring_enq(r.get(), &four), -105);
	EXPECT_EQ(r->head, head);
	EXPECT_EQ(r->tail, tail);
	EXPECT_EQ(zev_ring_count(r.get()), 3u);
	EXPECT_EQ(visit(r.get(), 10, false), (std::vector<int>{1, 2, 3}));
	EXPECT_EQ(zev_ring_at(r.get(), 0, &v), 0);
	EXPECT_EQ(v, 1);
	EXPECT_EQ(zev_ring_at(r.get(), 3, &v), -2);
	EXPECT_EQ(zev_ring_deq(r.get(), nullptr), 0); // dropped without a destination
	EXPECT_EQ(zev_ring_deq(r.get(), &v), 0);
	EXPECT_EQ(v, 2);
	zev_ring_reset(r.get());
	EXPECT_TRUE(zev_ring_empty(r.get()));
}

TEST(Ring, ForcedAppendDropsTheOldest)
{
	auto r = make_ring(3);
	for (int i : {'a', 'b', 'c'})
		zev_ring_enq_f(r.get(), &i, nullptr);
	int x = 'x', dropped = 0;
	zev_ring_enq_f(r.get(), &x, &dropped);
	EXPECT_EQ(dropped, 'a');
	EXPECT_EQ(zev_ring_count(r.get()), 3u);
	EXPECT_EQ(visit(r.get(), 3, false), (std::vector<int>{'b', 'c', 'x'}));
}

TEST(Ring, VisitsOldestAndNewestFirstAcrossTheWrap)
{
	auto r = make_ring(3);
	for (int i = 1; i <= 5; i++)
		zev_ring_enq_f(r.get(), &i, nullptr);
	uint64_t m;
	EXPECT_EQ(visit(r.get(), 10, false, &m), (std::vector<int>{3, 4, 5}));
	EXPECT_EQ(m, 3u);
	EXPECT_EQ(visit(r.get(), 2, true, &m), (std::vector<int>{5, 4}));
	EXPECT_EQ(m, 2u);
	EXPECT_EQ(visit(r.get(), 3, true), (std::vector<int>{5, 4, 3}));
	EXPECT_TRUE(visit(r.get(), 0, true, &m).empty());
	EXPECT_EQ(m, 0u);
	EXPECT_TRUE(visit(r.get(), 0, false).empty());

	// Wrapped but not full: capacity 8, slots 5, 6, 7 then 0, 1.
	auto w = make_ring(8);
	for (int i = 0; i < 5; i++)
		zev_ring_enq_f(w.get(), &i, nullptr);
	for (int i = 0; i < 5; i++)
		zev_ring_deq(w.get(), nullptr);
	for (int slot : {5, 6, 7, 0, 1})
		zev_ring_enq(w.get(), &slot);
	EXPECT_EQ(w->head, 5u);
	EXPECT_EQ(w->tail, 2u);
	EXPECT_EQ(visit(w.get(), 5, true), (std::vector<int>{1, 0, 7, 6, 5}));
	EXPECT_EQ(visit(w.get(), 5, false), (std::vector<int>{5, 6, 7, 0, 1}));
}

TEST(Ring, StockVisitorsSumAndAverage)
{
	auto r = make_ring(4);
	for (int i : {10, 20, 30, 40, 50})
		zev_ring_enq_f(r.get(), &i, nullptr);
	zev_ring_sum_ctx sum = {[](const void *e) { return static_cast<int64_t>(*static_cast<const int *>(e)); }, 0};
	uint64_t n = zev_ring_iter_r(
		r.get(), 2, [](void *e, void *u) { zev_ring_sum_cb(e, static_cast<zev_ring_sum_ctx *>(u)); }, &sum);
	EXPECT_EQ(n, 2u);
	EXPECT_EQ(sum.sum, 90);
	zev_ring_avg_ctx avg = {[](const void *e) { return static_cast<double>(*static_cast<const int *>(e)); }, 0};
	n = zev_ring_iter(
		r.get(), 10, [](void *e, void *u) { zev_ring_avg_cb(e, static_cast<zev_ring_avg_ctx *>(u)); }, &avg);
	EXPECT_DOUBLE_EQ(avg.sum / static_cast<double>(n), 35.0);
}

std::string md5_hex(const std::string &text, size_t chunk = 0)
{
	md5_ctx ctx;
	md5_init(&ctx);
	if (chunk == 0) {
		md5_update(&ctx, text.data(), text.size());
	} else {
		for (size_t i = 0; i < text.size(); i += chunk)
			md5_update(&ctx, text.data() + i, std::min(chunk, text.size() - i));
	}
	md5_finalize(&ctx);
	char hex[33];
	for (int i = 0; i < 16; i++)
		std::snprintf(hex + 2 * i, 3, "%02x", ctx.digest[i]);
	return hex;
}

TEST(Md5, Rfc1321TestSuite)
{
	EXPECT_EQ(md5_hex(""), "d41d8cd98f00b204e9800998ecf8427e");
	EXPECT_EQ(md5_hex("a"), "0cc175b9c0f1b6a831c399e269772661");
	EXPECT_EQ(md5_hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
	EXPECT_EQ(md5_hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
	EXPECT_EQ(md5_hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
	EXPECT_EQ(md5_hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
		  "d174ab98d277d9f5a5611c2c9f419d9f");
	std::string digits;
	for (int i = 0; i < 8; i++)
		digits += "1234567890";
	EXPECT_EQ(md5_hex(digits), "57edf4a22be3c955ac49da2e2107b67a");
	// Fed in odd pieces, the digest is the same.
	EXPECT_EQ(md5_hex(digits, 7), "57edf4a22be3c955ac49da2e2107b67a");
	EXPECT_EQ(offsetof(md5_ctx, state), 8u);
	EXPECT_EQ(offsetof(md5_ctx, input), 24u);
	EXPECT_EQ(offsetof(md5_ctx, digest), 88u);
}

} // namespace
