/* MD5 (RFC 1321). */
#ifndef ZEV_MD5_H
#define ZEV_MD5_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct md5_ctx {
	uint64_t size;       /* total input length in bytes */
	uint32_t state[4];
	uint8_t input[64];
	uint8_t digest[16];
};

void md5_init(struct md5_ctx *ctx);
void md5_update(struct md5_ctx *ctx, const void *data, size_t len);
void md5_finalize(struct md5_ctx *ctx);
/* Processes one 64-byte block given as 16 little-endian words. */
void md5_step(uint32_t state[4], const uint32_t block[16]);

#ifdef __cplusplus
}
#endif

#endif
