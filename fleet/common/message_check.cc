// Checks of bus messages.
#include "message_check.h"

#include <wlc/blob.h>

#include <cstring>

namespace fleet {

namespace {

const char *type_text(int type)
{
	switch (type) {
	case BLOBMSG_TYPE_STRING:
		return "a string";
	case BLOBMSG_TYPE_TABLE:
		return "a table";
	case BLOBMSG_TYPE_ARRAY:
		return "an array";
	case BLOBMSG_TYPE_BOOL:
		return "a boolean";
	case BLOBMSG_TYPE_INT32:
		return "a 32-bit integer";
	default:
		return "of another type";
	}
}

} // namespace

std::string wrong_types(blob_attr *msg, std::span<const blobmsg_policy> policy)
{
	if (!msg)
		return "";
	if (!wlc::name_fits(msg))
		return "malformed message";
	blob_attr *pos;
	size_t rem;
	blobmsg_for_each_attr(pos, msg, rem)
	{
		if (!blob_is_extended(pos) || !blobmsg_check_attr(pos, true))
			return "malformed field";
		const char *name = blobmsg_name(pos);
		for (const blobmsg_policy &p : policy) {
			if (std::strcmp(p.name, name) != 0)
				continue;
			if (blobmsg_type(pos) != p.type || (p.type == BLOBMSG_TYPE_STRING && !wlc::get_string(pos)))
				return std::string("field '") + name + "' must be " + type_text(p.type);
		}
	}
	return "";
}

bool nests_within(const blob_attr *table, int levels)
{
	if (levels < 0)
		return false;
	blob_attr *pos;
	size_t rem;
	blobmsg_for_each_attr(pos, const_cast<blob_attr *>(table), rem)
	{
		int t = blobmsg_type(pos);
		if ((t == BLOBMSG_TYPE_TABLE || t == BLOBMSG_TYPE_ARRAY) && !nests_within(pos, levels - 1))
			return false;
	}
	return true;
}

std::string table_json(const blob_attr *table)
{
	wlc::BlobBuf b;
	b.add_fields(table);
	return b.json();
}

} // namespace fleet
