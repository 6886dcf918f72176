// JSON rendering of blobmsg fields (compact and tab-indented) and loading of
// JSON objects into blobmsg buffers.
#include <wlc/c/blobmsg_json.h>
#include <wlc/platform_values.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kMaxJsonDepth = wlc::platform::kBlobmsgMaxDepth;

bool add_element(blob_buf *b, const char *name, json_object *obj, int depth);

bool add_members(blob_buf *b, json_object *obj, int depth)
{
	json_object_object_foreach(obj, key, val) {
		// A table member needs a name: without one the table would not hold
		// together as blobmsg, and it would render without its name.
		if (!key[0] || !add_element(b, key, val, depth))
			return false;
	}
	return true;
}

bool add_array(blob_buf *b, json_object *obj, int depth)
{
	size_t n = json_object_array_length(obj);
	for (size_t i = 0; i < n; i++)
		if (!add_element(b, nullptr, json_object_array_get_idx(obj, i), depth))
			return false;
	return true;
}

bool add_element(blob_buf *b, const char *name, json_object *obj, int depth)
{
	if (depth > kMaxJsonDepth)
		return false;
	switch (json_object_get_type(obj)) {
	case json_type_object: {
		void *c = blobmsg_open_table(b, name);
		bool ok = c && add_members(b, obj, depth + 1);
		if (c)
			blobmsg_close_table(b, c);
		return ok;
	}
	case json_type_array: {
		void *c = blobmsg_open_array(b, name);
		bool ok = c && add_array(b, obj, depth + 1);
		if (c)
			blobmsg_close_array(b, c);
		return ok;
	}
	case json_type_string:
		return blobmsg_add_string(b, name, json_object_get_string(obj)) == 0;
	case json_type_boolean:
		return blobmsg_add_u8(b, name, json_object_get_boolean(obj) ? 1 : 0) == 0;
	case json_type_int: {
		int64_t v = json_object_get_int64(obj);
		if (v >= INT32_MIN && v <= INT32_MAX)
			return blobmsg_add_u32(b, name, static_cast<uint32_t>(v)) == 0;
		return blobmsg_add_u64(b, name, static_cast<uint64_t>(v)) == 0;
	}
	case json_type_double:
		return blobmsg_add_double(b, name, json_object_get_double(obj)) == 0;
	case json_type_null:
		return blobmsg_add_field(b, BLOBMSG_TYPE_UNSPEC, name, nullptr, 0) == 0;
	}
	return false;
}

bool add_root_object(blob_buf *b, json_object *obj)
{
	if (!obj)
		return false;
	bool ok = json_object_get_type(obj) == json_type_object && add_members(b, obj, 0);
	json_object_put(obj);
	return ok;
}

class JsonWriter {
public:
	JsonWriter(blobmsg_json_format_t cb, void *priv, int indent)
		: custom_(cb), priv_(priv), indent_(indent >= 0), level_(indent >= 0 ? indent : 0) {}

	void element(const blob_attr *attr, bool in_array, int depth);
	void list(const char *data, size_t len, bool array, int depth);
	char *release() const { return strdup(out_.c_str()); }

private:
	void separator();
	void string(const char *str);
	void scalar(const blob_attr *attr);

	std::string out_;
	blobmsg_json_format_t custom_;
	void *priv_;
	bool indent_;
	int level_;
};

void JsonWriter::separator()
{
	if (!indent_)
		return;
	out_ += '\n';
	out_.append(static_cast<size_t>(level_ > 16 ? 16 : level_), '\t');
}

void JsonWriter::string(const char *str)
{
	out_ += '"';
	for (const auto *p = reinterpret_cast<const unsigned char *>(str); *p; p++) {
		switch (*p) {
		case '\b': out_ += "\\b"; break;
		case '\n': out_ += "\\n"; break;
		case '\t': out_ += "\\t"; break;
		case '\r': out_ += "\\r"; break;
		case '"': out_ += "\\\""; break;
		case '\\': out_ += "\\\\"; break;
		default:
			if (*p < ' ') {
				char esc[8];
				std::snprintf(esc, sizeof(esc), "\\u%04x", *p);
				out_ += esc;
			} else {
				out_ += static_cast<char>(*p);
			}
		}
	}
	out_ += '"';
}

void JsonWriter::scalar(const blob_attr *attr)
{
	// Room for any double in "%lf": up to 309 integer digits, sign, point
	// and six decimals.
	char buf[320];
	auto *a = const_cast<blob_attr *>(attr);
	switch (blob_id(attr)) {
	case BLOBMSG_TYPE_INT8:
		out_ += blobmsg_get_u8(a) ? "true" : "false";
		return;
	case BLOBMSG_TYPE_INT16:
		std::snprintf(buf, sizeof(buf), "%d", static_cast<int16_t>(blobmsg_get_u16(a)));
		break;
	case BLOBMSG_TYPE_INT32:
		std::snprintf(buf, sizeof(buf), "%d", static_cast<int32_t>(blobmsg_get_u32(a)));
		break;
	case BLOBMSG_TYPE_INT64:
		std::snprintf(buf, sizeof(buf), "%" PRId64, static_cast<int64_t>(blobmsg_get_u64(a)));
		break;
	case BLOBMSG_TYPE_DOUBLE: {
		// JSON has no infinity or NaN (a number too large for a double
		// loads as one): those render as null, so the text stays JSON.
		double v = blobmsg_get_double(a);
		if (!std::isfinite(v)) {
			out_ += "null";
			return;
		}
		std::snprintf(buf, sizeof(buf), "%lf", v);
		break;
	}
	case BLOBMSG_TYPE_STRING:
		string(blobmsg_get_string(a));
		return;
	default:
		out_ += "null";
		return;
	}
	out_ += buf;
}

void JsonWriter::element(const blob_attr *attr, bool in_array, int depth)
{
	if (!in_array && blob_is_extended(attr) && blobmsg_name(attr)[0]) {
		string(blobmsg_name(attr));
		out_ += indent_ ? ": " : ":";
	}
	if (custom_) {
		const char *text = custom_(priv_, const_cast<blob_attr *>(attr));
		if (text) {
			out_ += text;
			return;
		}
	}
	int type = static_cast<int>(blob_id(attr));
	if (type == BLOBMSG_TYPE_ARRAY || type == BLOBMSG_TYPE_TABLE) {
		list(static_cast<const char *>(blobmsg_data(attr)), blobmsg_data_len(attr),
		     type == BLOBMSG_TYPE_ARRAY, depth + 1);
		return;
	}
	scalar(attr);
}

void JsonWriter::list(const char *data, size_t len, bool array, int depth)
{
	out_ += array ? '[' : '{';
	level_++;
	separator();
	bool first = true;
	blob_attr *pos;
	size_t rem = len;
	__blob_for_each_attr(pos, data, rem) {
		// Members that do not hold together are left out rather than read.
		if (depth > wlc::platform::kBlobmsgMaxDepth || !blobmsg_check_attr(pos, false))
			continue;
		if (!first) {
			out_ += ',';
			separator();
		}
		element(pos, array, depth);
		first = false;
	}
	level_--;
	separator();
	out_ += array ? ']' : '}';
}

} // namespace

extern "C" {

bool blobmsg_add_object(blob_buf *b, json_object *obj)
{
	return add_members(b, obj, 0);
}

bool blobmsg_add_json_element(blob_buf *b, const char *name, json_object *obj)
{
	return add_element(b, name, obj, 0);
}

bool blobmsg_add_json_from_string(blob_buf *b, const char *str)
{
	return add_root_object(b, json_tokener_parse(str));
}

bool blobmsg_add_json_from_file(blob_buf *b, const char *file)
{
	return add_root_object(b, json_object_from_file(file));
}

char *blobmsg_format_json_with_cb(blob_attr *attr, bool list, blobmsg_json_format_t cb, void *priv, int indent)
{
	if (!attr || blob_raw_len(attr) < sizeof(blob_attr))
		return nullptr;
	JsonWriter w(cb, priv, indent);
	if (list) {
		bool array = blob_is_extended(attr) && blobmsg_type(attr) == BLOBMSG_TYPE_ARRAY;
		if (blob_is_extended(attr) && !blobmsg_check_attr(attr, false))
			return nullptr;
		w.list(static_cast<const char *>(blobmsg_data(attr)), blobmsg_data_len(attr), array, 0);
	} else {
		if (!blobmsg_check_attr(attr, false))
			return nullptr;
		w.element(attr, false, 0);
	}
	return w.release();
}

char *blobmsg_format_json_value_with_cb(blob_attr *attr, blobmsg_json_format_t cb, void *priv, int indent)
{
	if (!attr || !blobmsg_check_attr(attr, false))
		return nullptr;
	JsonWriter w(cb, priv, indent);
	w.element(attr, true, 0);
	return w.release();
}

} // extern "C"
