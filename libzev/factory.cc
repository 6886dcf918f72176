// Factory partition access through the layout file.
#include <zev/factory.h>
#include <zev/md5.h>

#include <fsroot/fsroot.h>

#include "driver/seam.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/ioctl.h>
#include <mtd/mtd-user.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kChecksumBlock = 4096;

// A layout number: its text read as far as it makes an unsigned number with
// base detection (decimal, 0x hexadecimal, leading 0 octal), as strtoull does
// ("6 bytes" is 6, "" is 0, an out-of-range value saturates); a value that is
// not text is read through its JSON text. A trailing '!' counts from the end.
struct Offset {
	uint64_t value;
	bool from_end;
};

Offset parse_number(json_object *obj)
{
	const char *text = json_object_get_string(obj);
	size_t len = std::strlen(text);
	return Offset{std::strtoull(text, nullptr, 0), len > 0 && text[len - 1] == '!'};
}

// A member that is absent or null is missing.
json_object *member(json_object *entry, const char *key)
{
	json_object *value = nullptr;
	return json_object_object_get_ex(entry, key, &value) ? value : nullptr;
}

bool parse_item(json_object *entry, zev_factory_item &item)
{
	if (!json_object_is_type(entry, json_type_object))
		return false;
	json_object *name = member(entry, "name"), *offset = member(entry, "offset"), *length = member(entry, "length");
	if (!name || !offset || !length)
		return false;
	Offset off = parse_number(offset);
	std::snprintf(item.name, sizeof(item.name), "%s", json_object_get_string(name));
	item.length = parse_number(length).value;
	// Two's complement wrap-around, well defined for any value.
	item.offset = static_cast<int64_t>(off.from_end ? 0 - off.value : off.value);
	item.whence = off.from_end ? SEEK_END : SEEK_SET;
	return true;
}

// The MTD device whose /proc/mtd line contains the partition text.
int open_partition(const char *partition, bool writable)
{
	FILE *mtd = std::fopen(wlc::root_path("/proc/mtd").c_str(), "re");
	if (!mtd)
		return -1;
	char line[80];
	int index = -1;
	while (std::fgets(line, sizeof(line), mtd)) {
		int n;
		if (std::sscanf(line, "mtd%d:", &n) == 1 && std::strstr(line, partition)) {
			index = n;
			break;
		}
	}
	std::fclose(mtd);
	if (index < 0)
		return -1;
	int flags = writable ? (O_RDWR | O_SYNC) : (O_RDONLY | O_NONBLOCK);
	char path[32];
	std::snprintf(path, sizeof(path), "/dev/mtd%d", index);
	int fd = open(wlc::root_path(path).c_str(), flags | O_CLOEXEC);
	if (fd < 0) {
		std::snprintf(path, sizeof(path), "/dev/mtd/%d", index);
		fd = open(wlc::root_path(path).c_str(), flags | O_CLOEXEC);
	}
	return fd;
}

const zev_factory_item *find_item(const zev_factory *f, const char *name)
{
	for (uint64_t i = 0; i < f->count; i++)
		if (std::strcmp(f->items[i].name, name) == 0)
			return &f->items[i];
	return nullptr;
}

// Feeds the partition into the digest, leaving out [skip_at, skip_at + skip_len).
bool digest_partition(int fd, uint64_t skip_at, uint64_t skip_len, md5_ctx &md5)
{
	std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[kChecksumBlock]);
	if (!buf || lseek(fd, 0, SEEK_SET) < 0)
		return false;
	uint64_t pos = 0;
	for (;;) {
		ssize_t n = read(fd, buf.get(), kChecksumBlock);
		if (n < 0)
			return false;
		if (n == 0)
			return true;
		for (uint64_t i = 0; i < static_cast<uint64_t>(n);) {
			uint64_t at = pos + i;
			if (at >= skip_at && at < skip_at + skip_len) {
				i += std::min<uint64_t>(skip_at + skip_len - at, static_cast<uint64_t>(n) - i);
				continue;
			}
			uint64_t run = static_cast<uint64_t>(n) - i;
			if (at < skip_at)
				run = std::min(run, skip_at - at);
			md5_update(&md5, buf.get() + i, run);
			i += run;
		}
		pos += static_cast<uint64_t>(n);
	}
}

} // namespace

extern "C" {

zev_factory *zev_factory_layout_from_json(json_object *layout, uint8_t writable)
{
	json_object *items, *partition;
	if (!layout || !json_object_object_get_ex(layout, "layout", &items) ||
	    !json_object_is_type(items, json_type_array) || json_object_array_length(items) == 0)
		return nullptr;
	size_t count = json_object_array_length(items);
	auto *f = static_cast<zev_factory *>(std::calloc(1, sizeof(zev_factory) + count * sizeof(zev_factory_item)));
	if (!f)
		return nullptr;
	f->fd = -1;
	f->count = count;
	for (size_t i = 0; i < count; i++) {
		if (!parse_item(json_object_array_get_idx(items, i), f->items[i])) {
			std::free(f);
			return nullptr;
		}
	}
	if (!json_object_object_get_ex(layout, "partition", &partition) ||
	    !json_object_is_type(partition, json_type_string) ||
	    (f->fd = open_partition(json_object_get_string(partition), writable != 0)) < 0) {
		std::free(f);
		return nullptr;
	}
	return f;
}

zev_factory *zev_factory_init(const char *layout_file, uint8_t writable)
{
	std::string path = wlc::root_path(layout_file ? layout_file : ZEV_FACTORY_LAYOUT_FILE);
	json_object *layout = json_object_from_file(path.c_str());
	if (!layout)
		return nullptr;
	zev_factory *f = zev_factory_layout_from_json(layout, writable);
	json_object_put(layout);
	return f;
}

void zev_factory_free(zev_factory *factory)
{
	if (!factory)
		return;
	if (factory->fd >= 0)
		close(factory->fd);
	std::free(factory);
}

int zev_factory_layout_read(zev_factory *factory, const char *item, void *dst, size_t len)
{
	if (!factory || !item || !dst)
		return -1;
	const zev_factory_item *it = find_item(factory, item);
	if (!it || lseek(factory->fd, it->offset, it->whence) < 0)
		return -1;
	size_t n = std::min<uint64_t>(len, it->length);
	return static_cast<int>(read(factory->fd, dst, n));
}

int zev_factory_layout_write(zev_factory *, const char *, const void *, size_t)
{
	return -1;
}

int zev_factory_layout_checksum(zev_factory *factory, const char *item, uint8_t digest[16])
{
	if (!factory || !digest)
		return -1;
	uint64_t skip_at = 0, skip_len = 0;
	if (item) {
		const zev_factory_item *it = find_item(factory, item);
		off_t at;
		if (!it || (at = lseek(factory->fd, it->offset, it->whence)) < 0)
			return -1;
		skip_at = static_cast<uint64_t>(at);
		skip_len = it->length;
	}
	mtd_info_user info;
	if (zev::seam::request(factory->fd, MEMGETINFO, &info) < 0)
		return -1;
	md5_ctx md5;
	md5_init(&md5);
	if (!digest_partition(factory->fd, skip_at, skip_len, md5))
		return -1;
	md5_finalize(&md5);
	std::memcpy(digest, md5.digest, 16);
	return 16;
}

} // extern "C"
