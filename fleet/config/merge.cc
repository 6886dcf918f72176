// Configuration documents and their merge.
#include "merge.h"

#include <json-c/json.h>

#include <memory>

namespace fleet {

namespace {

struct JsonPut {
	void operator()(json_object *o) const noexcept { json_object_put(o); }
};
using Json = std::unique_ptr<json_object, JsonPut>;

struct TokenerFree {
	void operator()(json_tokener *t) const noexcept { json_tokener_free(t); }
};

// The whole text as one JSON value in strict JSON (no single quotes, no
// comments), or null with the reason.
Json parse(std::string_view text, std::string &error)
{
	std::unique_ptr<json_tokener, TokenerFree> tok(json_tokener_new_ex(kMaxConfigDepth));
	if (!tok) {
		error = "out of memory";
		return nullptr;
	}
	json_tokener_set_flags(tok.get(), JSON_TOKENER_STRICT);
	// With its terminator, so that a number or literal at the very end is whole.
	std::string whole(text);
	Json value(json_tokener_parse_ex(tok.get(), whole.c_str(), static_cast<int>(whole.size() + 1)));
	json_tokener_error e = json_tokener_get_error(tok.get());
	if (e == json_tokener_continue) {
		error = "not JSON: the text ends early";
		return nullptr;
	}
	if (e == json_tokener_error_depth) {
		error = "not JSON: nested deeper than " + std::to_string(kMaxConfigDepth) + " levels";
		return nullptr;
	}
	if (e != json_tokener_success) {
		error = std::string("not JSON: ") + json_tokener_error_desc(e);
		return nullptr;
	}
	size_t end = json_tokener_get_parse_end(tok.get());
	std::string_view rest = end < text.size() ? text.substr(end) : std::string_view();
	if (rest.find_first_not_of(" \t\r\n") != std::string_view::npos) {
		error = "not JSON: more text after the value";
		return nullptr;
	}
	return value;
}

std::string compact(json_object *o)
{
	return json_object_to_json_string_ext(o, JSON_C_TO_STRING_PLAIN);
}

// Merges overlay into target (both objects). The depth is bounded by the
// documents' own, which reading bounded.
void merge_into(json_object *target, json_object *overlay)
{
	json_object_object_foreach(overlay, key, value)
	{
		if (!value) {
			json_object_object_del(target, key);
			continue;
		}
		json_object *current = nullptr;
		bool both_objects = json_object_is_type(value, json_type_object) &&
				    json_object_object_get_ex(target, key, &current) &&
				    json_object_is_type(current, json_type_object);
		if (both_objects) {
			merge_into(current, value);
			continue;
		}
		json_object *copy = nullptr;
		if (json_object_is_type(value, json_type_object)) {
			// Merged over nothing, so that its nulls are dropped too.
			copy = json_object_new_object();
			merge_into(copy, value);
		} else if (json_object_deep_copy(value, &copy, nullptr) != 0) {
			continue;
		}
		json_object_object_add(target, key, copy);
	}
}

} // namespace

ConfigDocument read_config(std::string_view text)
{
	ConfigDocument doc;
	if (text.size() > kMaxConfigText) {
		doc.error = "larger than " + std::to_string(kMaxConfigText) + " bytes";
		return doc;
	}
	Json value = parse(text, doc.error);
	if (!value) {
		if (doc.error.empty())
			doc.error = "not a JSON object but null";
		return doc;
	}
	if (!json_object_is_type(value.get(), json_type_object)) {
		doc.error = std::string("not a JSON object but ") + json_type_to_name(json_object_get_type(value.get()));
		return doc;
	}
	doc.json = compact(value.get());
	return doc;
}

std::optional<std::string> merge_configs(const std::vector<std::string> &documents)
{
	Json result(json_object_new_object());
	if (!result)
		return std::nullopt;
	for (const std::string &d : documents) {
		std::string error;
		Json overlay = parse(d, error);
		if (!overlay || !json_object_is_type(overlay.get(), json_type_object))
			return std::nullopt;
		merge_into(result.get(), overlay.get());
	}
	std::string text = compact(result.get());
	if (text.size() > kMaxConfigText)
		return std::nullopt;
	return text;
}

} // namespace fleet
