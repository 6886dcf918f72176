// MD5 message digest (RFC 1321).
#include <zev/md5.h>

#include <cstring>

namespace {

constexpr uint32_t kSine[64] = {
	0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
	0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
	0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
	0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
	0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
	0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
	0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
	0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

constexpr uint32_t kShift[64] = {
	7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
	5, 9, 14, 20, 5, 9, 14, 20, 5, 9, 14, 20, 5, 9, 14, 20,
	4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
	6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21,
};

uint32_t rotl(uint32_t x, uint32_t n)
{
	return (x << n) | (x >> (32 - n));
}

void process_input(md5_ctx *ctx)
{
	uint32_t block[16];
	for (int i = 0; i < 16; i++)
		block[i] = static_cast<uint32_t>(ctx->input[i * 4]) | static_cast<uint32_t>(ctx->input[i * 4 + 1]) << 8 |
			   static_cast<uint32_t>(ctx->input[i * 4 + 2]) << 16 |
			   static_cast<uint32_t>(ctx->input[i * 4 + 3]) << 24;
	md5_step(ctx->state, block);
}

} // namespace

extern "C" {

void md5_init(md5_ctx *ctx)
{
	ctx->size = 0;
	ctx->state[0] = 0x67452301;
	ctx->state[1] = 0xefcdab89;
	ctx->state[2] = 0x98badcfe;
	ctx->state[3] = 0x10325476;
	std::memset(ctx->input, 0, sizeof(ctx->input));
	std::memset(ctx->digest, 0, sizeof(ctx->digest));
}

void md5_step(uint32_t state[4], const uint32_t block[16])
{
	uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
	for (uint32_t i = 0; i < 64; i++) {
		uint32_t f, g;
		switch (i / 16) {
		case 0: f = (b & c) | (~b & d); g = i; break;
		case 1: f = (b & d) | (c & ~d); g = (5 * i + 1) % 16; break;
		case 2: f = b ^ c ^ d; g = (3 * i + 5) % 16; break;
		default: f = c ^ (b | ~d); g = (7 * i) % 16; break;
		}
		uint32_t next = d;
		d = c;
		c = b;
		b = b + rotl(a + f + kSine[i] + block[g], kShift[i]);
		a = next;
	}
	state[0] += a;
	state[1] += b;
	state[2] += c;
	state[3] += d;
}

void md5_update(md5_ctx *ctx, const void *data, size_t len)
{
	const auto *bytes = static_cast<const uint8_t *>(data);
	size_t offset = ctx->size % 64;
	ctx->size += len;
	for (size_t i = 0; i < len; i++) {
		ctx->input[offset++] = bytes[i];
		if (offset == 64) {
			process_input(ctx);
			offset = 0;
		}
	}
}

void md5_finalize(md5_ctx *ctx)
{
	uint64_t bits = ctx->size * 8;
	size_t offset = ctx->size % 64;
	size_t pad = offset < 56 ? 56 - offset : 120 - offset;
	static const uint8_t padding[64] = {0x80};
	md5_update(ctx, padding, pad);
	uint8_t length[8];
	for (int i = 0; i < 8; i++)
		length[i] = static_cast<uint8_t>(bits >> (8 * i));
	md5_update(ctx, length, sizeof(length));
	for (int i = 0; i < 4; i++)
		for (int j = 0; j < 4; j++)
			ctx->digest[i * 4 + j] = static_cast<uint8_t>(ctx->state[i] >> (8 * j));
}

} // extern "C"
