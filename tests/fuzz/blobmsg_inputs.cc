// Feeds untrusted bytes to the blob and blobmsg readers.
#include "blobmsg_inputs.h"

#include <wlc/c/ubox.h>
#include <wlc/c/blobmsg_json.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace wlcfuzz {

namespace {

void walk(blob_attr *attr, size_t avail)
{
	if (!blobmsg_check_attr_len(attr, false, avail))
		return;
	char *json = blobmsg_format_json(attr, true);
	std::free(json);
	json = blobmsg_format_json_indent(attr, false, 0);
	std::free(json);
	blobmsg_check_array(attr, BLOBMSG_TYPE_STRING);
	blob_attr *pos;
	size_t rem;
	blobmsg_for_each_attr(pos, attr, rem) {
		if (blobmsg_type(pos) == BLOBMSG_TYPE_STRING)
			(void)std::strlen(blobmsg_get_string(pos));
	}
}

} // namespace

void blobmsg_one_input(const uint8_t *data, size_t size)
{
	// An exactly sized, aligned copy: any read past the end is caught.
	auto buf = std::make_unique<uint32_t[]>(size / 4 + 1);
	std::memcpy(buf.get(), data, size);
	auto *bytes = reinterpret_cast<uint8_t *>(buf.get());
	static const blobmsg_policy policy[] = {
		{"id", BLOBMSG_TYPE_INT32}, {"msg", BLOBMSG_TYPE_STRING}, {"data", BLOBMSG_TYPE_TABLE},
		{"list", BLOBMSG_TYPE_ARRAY}, {"n", BLOBMSG_CAST_INT64}, {"any", BLOBMSG_TYPE_UNSPEC},
	};
	blob_attr *tb[6];
	if (blobmsg_parse(policy, 6, tb, bytes, static_cast<unsigned int>(size)) == 0)
		for (blob_attr *attr : tb)
			if (attr && blobmsg_type(attr) == BLOBMSG_TYPE_INT32)
				(void)blobmsg_get_u32(attr);
	blobmsg_parse_array(policy, 6, tb, bytes, static_cast<unsigned int>(size));
	if (size >= sizeof(blob_attr)) {
		auto *head = reinterpret_cast<blob_attr *>(bytes);
		walk(head, size);
		blob_attr *ids[8];
		blob_parse_untrusted(head, size, ids, nullptr, 8);
	}
}

} // namespace wlcfuzz
