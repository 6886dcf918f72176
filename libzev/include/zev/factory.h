/* Factory partition access through a layout file (items by name, checksum). */
#ifndef ZEV_FACTORY_H
#define ZEV_FACTORY_H

#include <stddef.h>
#include <stdint.h>
#include <json-c/json.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ZEV_FACTORY_LAYOUT_FILE "/etc/factory.json"

struct zev_factory_item {
	char name[24];
	uint64_t length;
	int64_t offset; /* negative with SEEK_END for offsets counted from the end */
	int whence;
};

struct zev_factory {
	int fd;
	uint64_t count;
	struct zev_factory_item items[];
};

struct zev_factory *zev_factory_init(const char *layout_file, uint8_t writable);
struct zev_factory *zev_factory_layout_from_json(json_object *layout, uint8_t writable);
void zev_factory_free(struct zev_factory *factory);
/* Bytes read (at most min(len, item length)), or -1. */
int zev_factory_layout_read(struct zev_factory *factory, const char *item, void *dst, size_t len);
/* Always -1: writing is not supported. */
int zev_factory_layout_write(struct zev_factory *factory, const char *item, const void *src, size_t len);
/* 16 with the MD5 of the partition (without the named item) in digest, or -1. */
int zev_factory_layout_checksum(struct zev_factory *factory, const char *item, uint8_t digest[16]);

#ifdef __cplusplus
}
#endif

#endif
