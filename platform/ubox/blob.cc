// Building and checking blob attribute buffers.
#include <wlc/c/ubox.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kGrowStep = 256;

unsigned long attr_to_offset(const blob_buf *buf, const blob_attr *attr)
{
	return static_cast<unsigned long>(reinterpret_cast<const char *>(attr) -
					  static_cast<const char *>(buf->buf)) + BLOB_COOKIE;
}

blob_attr *offset_to_attr(const blob_buf *buf, unsigned long offset)
{
	return reinterpret_cast<blob_attr *>(static_cast<char *>(buf->buf) + offset - BLOB_COOKIE);
}

bool default_grow(blob_buf *buf, int minlen)
{
	int delta = minlen > kGrowStep ? ((minlen + kGrowStep - 1) / kGrowStep) * kGrowStep : kGrowStep;
	void *grown = std::realloc(buf->buf, static_cast<size_t>(buf->buflen + delta));
	if (!grown)
		return false;
	std::memset(static_cast<char *>(grown) + buf->buflen, 0, static_cast<size_t>(delta));
	buf->buf = grown;
	buf->buflen += delta;
	return true;
}

void blob_init(blob_attr *attr, int id, unsigned int len)
{
	uint32_t v = (static_cast<uint32_t>(id) << BLOB_ATTR_ID_SHIFT) & BLOB_ATTR_ID_MASK;
	v |= len & BLOB_ATTR_LEN_MASK;
	attr->id_len = cpu_to_be32(v);
}

// Appends an attribute at the end of the current head and grows the head by
// the attribute's padded size.
blob_attr *add_attr(blob_buf *buf, int id, int payload)
{
	if (payload < 0 || payload > static_cast<int>(BLOB_ATTR_LEN_MASK - sizeof(blob_attr)))
		return nullptr;
	unsigned long head_off = attr_to_offset(buf, buf->head);
	int offset = static_cast<int>(head_off - BLOB_COOKIE + blob_pad_len(buf->head));
	int raw = static_cast<int>(sizeof(blob_attr)) + payload;
	int padded = (raw + BLOB_ATTR_ALIGN - 1) & ~(BLOB_ATTR_ALIGN - 1);
	int required = offset + padded - buf->buflen;
	if (required > 0) {
		if (!buf->grow || !buf->grow(buf, required))
			return nullptr;
		buf->head = offset_to_attr(buf, head_off);
	}
	auto *attr = reinterpret_cast<blob_attr *>(static_cast<char *>(buf->buf) + offset);
	blob_init(attr, id, static_cast<unsigned int>(raw));
	blob_fill_pad(attr);
	blob_set_raw_len(buf->head, static_cast<unsigned int>(blob_pad_len(buf->head)) +
					    static_cast<unsigned int>(padded));
	return attr;
}

} // namespace

extern "C" {

void blob_fill_pad(blob_attr *attr)
{
	char *buf = reinterpret_cast<char *>(attr);
	size_t len = blob_pad_len(attr);
	size_t delta = len - blob_raw_len(attr);
	if (delta > 0)
		std::memset(buf + len - delta, 0, delta);
}

void blob_set_raw_len(blob_attr *attr, unsigned int len)
{
	uint32_t v = be32_to_cpu(attr->id_len);
	v = (v & ~static_cast<uint32_t>(BLOB_ATTR_LEN_MASK)) | (len & BLOB_ATTR_LEN_MASK);
	attr->id_len = cpu_to_be32(v);
}

bool blob_attr_equal(const blob_attr *a1, const blob_attr *a2)
{
	if (!a1 && !a2)
		return true;
	if (!a1 || !a2)
		return false;
	if (blob_pad_len(a1) != blob_pad_len(a2))
		return false;
	return std::memcmp(a1, a2, blob_pad_len(a1)) == 0;
}

bool blob_buf_grow(blob_buf *buf, int required)
{
	unsigned long head_off = attr_to_offset(buf, buf->head);
	if (!buf->grow || !buf->grow(buf, required))
		return false;
	buf->head = offset_to_attr(buf, head_off);
	return true;
}

int blob_buf_init(blob_buf *buf, int id)
{
	if (!buf->grow)
		buf->grow = default_grow;
	buf->head = static_cast<blob_attr *>(buf->buf);
	if (!buf->buf || buf->buflen < static_cast<int>(sizeof(blob_attr))) {
		buf->head = nullptr;
		buf->buf = nullptr;
		buf->buflen = 0;
		if (!buf->grow(buf, sizeof(blob_attr)))
			return -ENOMEM;
		buf->head = static_cast<blob_attr *>(buf->buf);
	}
	blob_init(buf->head, id, sizeof(blob_attr));
	blob_fill_pad(buf->head);
	return 0;
}

void blob_buf_free(blob_buf *buf)
{
	std::free(buf->buf);
	buf->buf = nullptr;
	buf->head = nullptr;
	buf->buflen = 0;
}

blob_attr *blob_new(blob_buf *buf, int id, int payload)
{
	return add_attr(buf, id, payload);
}

blob_attr *blob_put_raw(blob_buf *buf, const void *ptr, unsigned int len)
{
	if (len < sizeof(blob_attr) || !ptr)
		return nullptr;
	blob_attr *attr = add_attr(buf, 0, static_cast<int>(len - sizeof(blob_attr)));
	if (!attr)
		return nullptr;
	std::memcpy(attr, ptr, len);
	return attr;
}

blob_attr *blob_put(blob_buf *buf, int id, const void *ptr, unsigned int len)
{
	blob_attr *attr = add_attr(buf, id, static_cast<int>(len));
	if (!attr)
		return nullptr;
	if (len)
		std::memcpy(blob_data(attr), ptr, len);
	return attr;
}

void *blob_nest_start(blob_buf *buf, int id)
{
	unsigned long parent = attr_to_offset(buf, buf->head);
	blob_attr *nest = add_attr(buf, id, 0);
	if (!nest)
		return nullptr;
	buf->head = nest;
	return reinterpret_cast<void *>(parent);
}

void blob_nest_end(blob_buf *buf, void *cookie)
{
	blob_attr *parent = offset_to_attr(buf, reinterpret_cast<unsigned long>(cookie));
	blob_attr *nest = buf->head;
	// The nest is the last member of its parent: the parent ends where the nest ends.
	const char *end = reinterpret_cast<const char *>(nest) + blob_pad_len(nest);
	blob_set_raw_len(parent, static_cast<unsigned int>(end - reinterpret_cast<const char *>(parent)));
	buf->head = parent;
}

bool blob_check_type(const void *ptr, unsigned int len, int type)
{
	const char *data = static_cast<const char *>(ptr);
	switch (type) {
	case BLOB_ATTR_INT8: return len == 1;
	case BLOB_ATTR_INT16: return len == 2;
	case BLOB_ATTR_INT32: return len == 4;
	case BLOB_ATTR_INT64: return len == 8;
	case BLOB_ATTR_DOUBLE: return len == 8;
	case BLOB_ATTR_STRING: return len >= 1 && data[len - 1] == 0;
	default: return type >= 0 && type < BLOB_ATTR_LAST;
	}
}

int blob_parse_untrusted(blob_attr *attr, size_t attr_len, blob_attr **data,
			 const blob_attr_info *info, int max)
{
	std::memset(data, 0, sizeof(blob_attr *) * static_cast<size_t>(max));
	if (!attr || attr_len < sizeof(blob_attr))
		return 0;
	size_t total = blob_raw_len(attr);
	if (total < sizeof(blob_attr) || total > attr_len)
		return 0;
	int found = 0;
	blob_attr *pos;
	size_t rem;
	blob_for_each_attr_len(pos, blob_data(attr), total - sizeof(blob_attr), rem) {
		int id = static_cast<int>(blob_id(pos));
		if (id >= max)
			continue;
		size_t len = blob_len(pos);
		if (info) {
			const blob_attr_info &i = info[id];
			if (i.type != BLOB_ATTR_UNSPEC &&
			    !blob_check_type(blob_data(pos), static_cast<unsigned int>(len), static_cast<int>(i.type)))
				continue;
			if (i.minlen && len < i.minlen)
				continue;
			if (i.maxlen && len > i.maxlen)
				continue;
			if (i.validate && !i.validate(&i, pos))
				continue;
		}
		if (!data[id])
			found++;
		data[id] = pos;
	}
	return found;
}

int blob_parse(blob_attr *attr, blob_attr **data, const blob_attr_info *info, int max)
{
	return blob_parse_untrusted(attr, attr ? blob_pad_len(attr) : 0, data, info, max);
}

blob_attr *blob_memdup(blob_attr *attr)
{
	size_t size = blob_pad_len(attr);
	auto *copy = static_cast<blob_attr *>(std::malloc(size));
	if (copy)
		std::memcpy(copy, attr, size);
	return copy;
}

} // extern "C"
