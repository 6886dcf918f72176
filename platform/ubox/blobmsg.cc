// Named, typed fields: building, checking and parsing against policies.
#include <wlc/c/ubox.h>
#include <wlc/platform_values.h>

#include <cstdio>
#include <cstring>
#include <cstdlib>

namespace {

int blob_type_of(int blobmsg_type)
{
	switch (blobmsg_type) {
	case BLOBMSG_TYPE_STRING: return BLOB_ATTR_STRING;
	case BLOBMSG_TYPE_INT8: return BLOB_ATTR_INT8;
	case BLOBMSG_TYPE_INT16: return BLOB_ATTR_INT16;
	case BLOBMSG_TYPE_INT32: return BLOB_ATTR_INT32;
	case BLOBMSG_TYPE_INT64: return BLOB_ATTR_INT64;
	case BLOBMSG_TYPE_DOUBLE: return BLOB_ATTR_DOUBLE;
	default: return BLOB_ATTR_UNSPEC;
	}
}

// Name header of an extended attribute, checked against the attribute's
// length; returns the name length or -1 when the header does not fit.
int checked_namelen(const blob_attr *attr, size_t len)
{
	if (!blob_is_extended(attr))
		return 0;
	if (len < sizeof(blobmsg_hdr))
		return -1;
	auto *hdr = static_cast<const blobmsg_hdr *>(blob_data(attr));
	unsigned int namelen = blobmsg_namelen(hdr);
	if (static_cast<size_t>(blobmsg_hdrlen(namelen)) > len)
		return -1;
	if (hdr->name[namelen] != 0)
		return -1;
	return static_cast<int>(namelen);
}

bool check_list(const char *data, size_t len, int type, int depth, int *count);

bool check_attr(const blob_attr *attr, bool name, size_t avail, int depth)
{
	if (avail < sizeof(blob_attr) || blob_raw_len(attr) < sizeof(blob_attr) ||
	    blob_raw_len(attr) > avail)
		return false;
	size_t len = blob_len(attr);
	int namelen = checked_namelen(attr, len);
	if (namelen < 0)
		return false;
	if (name && (!blob_is_extended(attr) || namelen == 0))
		return false;
	int id = static_cast<int>(blob_id(attr));
	if (id > BLOBMSG_TYPE_LAST)
		return false;
	const char *data = static_cast<const char *>(blobmsg_data(attr));
	size_t data_len = blobmsg_data_len(attr);
	if (id == BLOBMSG_TYPE_ARRAY || id == BLOBMSG_TYPE_TABLE) {
		if (depth >= wlc::platform::kBlobmsgMaxDepth)
			return false;
		int count = 0;
		return check_list(data, data_len, id == BLOBMSG_TYPE_ARRAY ? BLOBMSG_TYPE_UNSPEC : -1,
				  depth + 1, &count);
	}
	int btype = blob_type_of(id);
	if (btype == BLOB_ATTR_UNSPEC)
		return true;
	return blob_check_type(data, static_cast<unsigned int>(data_len), btype);
}

// Checks every member of a run of fields. type -1 means table members (named,
// any type); BLOBMSG_TYPE_UNSPEC means array members of any type; any other
// value requires array members of that type.
bool check_list(const char *data, size_t len, int type, int depth, int *count)
{
	bool named = type < 0;
	size_t rem = len;
	const char *pos = data;
	while (rem > 0) {
		auto *attr = reinterpret_cast<const blob_attr *>(pos);
		if (!check_attr(attr, named, rem, depth))
			return false;
		if (type > 0 && static_cast<int>(blob_id(attr)) != type)
			return false;
		size_t pad = blob_pad_len(attr);
		if (pad > rem)
			pad = rem;
		rem -= pad;
		pos += pad;
		++*count;
	}
	return true;
}

bool policy_matches(const blobmsg_policy &p, const blob_attr *attr)
{
	if (p.type == BLOBMSG_TYPE_UNSPEC)
		return true;
	int id = static_cast<int>(blob_id(attr));
	if (p.type == BLOBMSG_CAST_INT64)
		return id >= BLOBMSG_TYPE_INT64 && id <= BLOBMSG_TYPE_INT8;
	return id == p.type;
}

} // namespace

extern "C" {

bool blobmsg_check_attr_len(const blob_attr *attr, bool name, size_t len)
{
	return attr && check_attr(attr, name, len, 0);
}

bool blobmsg_check_attr(const blob_attr *attr, bool name)
{
	return attr && check_attr(attr, name, blob_raw_len(attr), 0);
}

int blobmsg_check_array_len(const blob_attr *attr, int type, size_t len)
{
	if (!attr || len < sizeof(blob_attr) || blob_raw_len(attr) > len ||
	    blob_raw_len(attr) < sizeof(blob_attr))
		return -1;
	int namelen = checked_namelen(attr, blob_len(attr));
	if (namelen < 0)
		return -1;
	int id = static_cast<int>(blob_id(attr));
	if (id != BLOBMSG_TYPE_ARRAY && id != BLOBMSG_TYPE_TABLE)
		return -1;
	int count = 0;
	int member = id == BLOBMSG_TYPE_TABLE ? -1 : type;
	if (id == BLOBMSG_TYPE_TABLE && type != BLOBMSG_TYPE_UNSPEC)
		member = -1;
	if (!check_list(static_cast<const char *>(blobmsg_data(attr)), blobmsg_data_len(attr), member, 1, &count))
		return -1;
	if (id == BLOBMSG_TYPE_TABLE && type != BLOBMSG_TYPE_UNSPEC) {
		// Tables checked as lists still need every member of the given type.
		blob_attr *pos;
		size_t rem;
		blobmsg_for_each_attr(pos, attr, rem)
			if (static_cast<int>(blob_id(pos)) != type)
				return -1;
	}
	return count;
}

int blobmsg_check_array(const blob_attr *attr, int type)
{
	return attr ? blobmsg_check_array_len(attr, type, blob_raw_len(attr)) : -1;
}

bool blobmsg_check_attr_list_len(const blob_attr *attr, int type, size_t len)
{
	return blobmsg_check_array_len(attr, type, len) >= 0;
}

bool blobmsg_check_attr_list(const blob_attr *attr, int type)
{
	return blobmsg_check_array(attr, type) >= 0;
}

int blobmsg_parse(const blobmsg_policy *policy, int policy_len, blob_attr **tb,
		  void *data, unsigned int len)
{
	if (policy_len <= 0)
		return 0;
	std::memset(tb, 0, sizeof(*tb) * static_cast<size_t>(policy_len));
	if (!data || !len)
		return -EINVAL;
	blob_attr *pos;
	size_t rem = len;
	__blob_for_each_attr(pos, data, rem) {
		int namelen = checked_namelen(pos, blob_len(pos));
		if (namelen <= 0)
			continue;
		const char *name = blobmsg_name(pos);
		for (int i = 0; i < policy_len; i++) {
			const blobmsg_policy &p = policy[i];
			if (!p.name || tb[i] || !policy_matches(p, pos))
				continue;
			if (std::strlen(p.name) != static_cast<size_t>(namelen) || std::strcmp(p.name, name) != 0)
				continue;
			if (!blobmsg_check_attr(pos, true))
				return -1;
			tb[i] = pos;
		}
	}
	return 0;
}

int blobmsg_parse_array(const blobmsg_policy *policy, int policy_len, blob_attr **tb,
			void *data, unsigned int len)
{
	if (policy_len <= 0)
		return 0;
	std::memset(tb, 0, sizeof(*tb) * static_cast<size_t>(policy_len));
	if (!data || !len)
		return -EINVAL;
	blob_attr *pos;
	size_t rem = len;
	int i = 0;
	__blob_for_each_attr(pos, data, rem) {
		if (i >= policy_len)
			break;
		if (policy_matches(policy[i], pos)) {
			if (!blobmsg_check_attr(pos, false))
				return -1;
			tb[i] = pos;
		}
		i++;
	}
	return 0;
}

static blob_attr *blobmsg_new(blob_buf *buf, int type, const char *name, int payload_len, void **data)
{
	if (!name)
		name = "";
	size_t namelen = std::strlen(name);
	if (namelen > 0xffff)
		return nullptr;
	int hdrlen = blobmsg_hdrlen(static_cast<unsigned int>(namelen));
	blob_attr *attr = blob_new(buf, type, hdrlen + payload_len);
	if (!attr)
		return nullptr;
	attr->id_len |= cpu_to_be32(BLOB_ATTR_EXTENDED);
	auto *hdr = static_cast<blobmsg_hdr *>(blob_data(attr));
	hdr->namelen = cpu_to_be16(static_cast<uint16_t>(namelen));
	std::memset(hdr->name, 0, static_cast<size_t>(hdrlen) - sizeof(blobmsg_hdr));
	std::memcpy(hdr->name, name, namelen);
	*data = static_cast<char *>(blob_data(attr)) + hdrlen;
	return attr;
}

int blobmsg_add_field(blob_buf *buf, int type, const char *name, const void *data, unsigned int len)
{
	void *dest;
	blob_attr *attr = blobmsg_new(buf, type, name, static_cast<int>(len), &dest);
	if (!attr)
		return -1;
	if (len)
		std::memcpy(dest, data, len);
	return 0;
}

void *blobmsg_open_nested(blob_buf *buf, const char *name, bool array)
{
	auto parent = static_cast<unsigned long>(reinterpret_cast<char *>(buf->head) -
						 static_cast<char *>(buf->buf)) + BLOB_COOKIE;
	void *data;
	blob_attr *nest = blobmsg_new(buf, array ? BLOBMSG_TYPE_ARRAY : BLOBMSG_TYPE_TABLE, name, 0, &data);
	if (!nest)
		return nullptr;
	buf->head = nest;
	return reinterpret_cast<void *>(parent);
}

void *blobmsg_alloc_string_buffer(blob_buf *buf, const char *name, unsigned int maxlen)
{
	void *data;
	blob_attr *attr = blobmsg_new(buf, BLOBMSG_TYPE_STRING, name, static_cast<int>(maxlen), &data);
	if (!attr)
		return nullptr;
	// Keep the field outside the head until its final length is known.
	blob_set_raw_len(buf->head, static_cast<unsigned int>(blob_pad_len(buf->head) - blob_pad_len(attr)));
	blob_set_raw_len(attr, static_cast<unsigned int>(blob_raw_len(attr) - maxlen));
	return data;
}

void *blobmsg_realloc_string_buffer(blob_buf *buf, unsigned int maxlen)
{
	blob_attr *attr = blob_next(buf->head);
	size_t offset = static_cast<size_t>(reinterpret_cast<char *>(attr) - static_cast<char *>(buf->buf));
	int required = static_cast<int>(offset + blob_raw_len(attr) + maxlen) - buf->buflen;
	if (required > 0) {
		if (!blob_buf_grow(buf, required))
			return nullptr;
		attr = blob_next(buf->head);
	}
	return blobmsg_data(attr);
}

void blobmsg_add_string_buffer(blob_buf *buf)
{
	blob_attr *attr = blob_next(buf->head);
	size_t attrlen = blob_raw_len(attr);
	size_t len = std::strlen(static_cast<char *>(blobmsg_data(attr))) + 1;
	blob_set_raw_len(attr, static_cast<unsigned int>(attrlen + len));
	blob_fill_pad(attr);
	blob_set_raw_len(buf->head, static_cast<unsigned int>(blob_raw_len(buf->head) + blob_pad_len(attr)));
}

int blobmsg_vprintf(blob_buf *buf, const char *name, const char *format, va_list arg)
{
	va_list copy;
	va_copy(copy, arg);
	int len = std::vsnprintf(nullptr, 0, format, copy);
	va_end(copy);
	if (len < 0)
		return -1;
	char *dest = static_cast<char *>(blobmsg_alloc_string_buffer(buf, name, static_cast<unsigned int>(len) + 1));
	if (!dest)
		return -1;
	len = std::vsnprintf(dest, static_cast<size_t>(len) + 1, format, arg);
	blobmsg_add_string_buffer(buf);
	return len;
}

int blobmsg_printf(blob_buf *buf, const char *name, const char *format, ...)
{
	va_list ap;
	va_start(ap, format);
	int ret = blobmsg_vprintf(buf, name, format, ap);
	va_end(ap);
	return ret;
}

uint64_t blobmsg_cast_u64(blob_attr *attr)
{
	switch (blobmsg_type(attr)) {
	case BLOBMSG_TYPE_INT8: return blobmsg_get_u8(attr);
	case BLOBMSG_TYPE_INT16: return blobmsg_get_u16(attr);
	case BLOBMSG_TYPE_INT32: return blobmsg_get_u32(attr);
	case BLOBMSG_TYPE_INT64: return blobmsg_get_u64(attr);
	default: return 0;
	}
}

int64_t blobmsg_cast_s64(blob_attr *attr)
{
	switch (blobmsg_type(attr)) {
	case BLOBMSG_TYPE_INT8: return static_cast<int8_t>(blobmsg_get_u8(attr));
	case BLOBMSG_TYPE_INT16: return static_cast<int16_t>(blobmsg_get_u16(attr));
	case BLOBMSG_TYPE_INT32: return static_cast<int32_t>(blobmsg_get_u32(attr));
	case BLOBMSG_TYPE_INT64: return static_cast<int64_t>(blobmsg_get_u64(attr));
	default: return 0;
	}
}

} // extern "C"
