// Reading access-list files.
#include "acl.h"

#include <fsroot/fsroot.h>

#include <json-c/json.h>

#include <algorithm>
#include <filesystem>
#include <fnmatch.h>
#include <fstream>
#include <memory>
#include <sstream>

namespace siteview {

namespace {

constexpr int kMaxDepth = 16;

using Json = std::unique_ptr<json_object, decltype(&json_object_put)>;

Json parse_json(const std::string &text)
{
	std::unique_ptr<json_tokener, decltype(&json_tokener_free)> tok(json_tokener_new_ex(kMaxDepth),
									   json_tokener_free);
	if (!tok)
		return {nullptr, json_object_put};
	json_object *obj = json_tokener_parse_ex(tok.get(), text.data(), static_cast<int>(text.size()));
	if (json_tokener_get_error(tok.get()) != json_tokener_success) {
		json_object_put(obj);
		obj = nullptr;
	}
	return {obj, json_object_put};
}

// The "ubus" scope of a group's part: objects to method lists.
std::vector<Grant> scope_grants(json_object *part)
{
	std::vector<Grant> out;
	json_object *ubus = nullptr;
	if (!part || !json_object_is_type(part, json_type_object) || !json_object_object_get_ex(part, "ubus", &ubus) ||
	    !json_object_is_type(ubus, json_type_object))
		return out;
	json_object_object_foreach(ubus, object, methods) {
		if (!json_object_is_type(methods, json_type_array))
			continue;
		size_t n = json_object_array_length(methods);
		for (size_t i = 0; i < n; i++) {
			json_object *m = json_object_array_get_idx(methods, i);
			if (json_object_is_type(m, json_type_string))
				out.push_back({object, json_object_get_string(m)});
		}
	}
	return out;
}

json_object *member(json_object *obj, const char *name)
{
	json_object *v = nullptr;
	return json_object_object_get_ex(obj, name, &v) ? v : nullptr;
}

} // namespace

AclGroups parse_acl(const std::string &text)
{
	AclGroups groups;
	Json all = parse_json(text);
	if (!all || !json_object_is_type(all.get(), json_type_object))
		return groups;
	json_object_object_foreach(all.get(), name, group) {
		if (!json_object_is_type(group, json_type_object))
			continue;
		groups[name] = {scope_grants(member(group, "read")), scope_grants(member(group, "write"))};
	}
	return groups;
}

AclGroups load_acl_dir(const std::string &dir)
{
	namespace fs = std::filesystem;
	std::vector<fs::path> files;
	std::error_code ec;
	for (const fs::directory_entry &e : fs::directory_iterator(wlc::root_path(dir), ec))
		if (e.is_regular_file(ec) && e.path().extension() == ".json")
			files.push_back(e.path());
	std::sort(files.begin(), files.end());
	AclGroups all;
	for (const fs::path &f : files) {
		std::ifstream in(f);
		std::stringstream text;
		text << in.rdbuf();
		for (auto &[name, group] : parse_acl(text.str()))
			all[name] = std::move(group);
	}
	return all;
}

bool grants(const std::vector<Grant> &list, const std::string &object, const std::string &function)
{
	return std::any_of(list.begin(), list.end(), [&](const Grant &g) {
		return fnmatch(g.object.c_str(), object.c_str(), 0) == 0 &&
		       fnmatch(g.function.c_str(), function.c_str(), 0) == 0;
	});
}

} // namespace siteview
