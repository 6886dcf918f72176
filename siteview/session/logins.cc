// Reading the logins and checking passwords.
#include "logins.h"

#include <fsroot/fsroot.h>

#include <json-c/json.h>

#include <crypt.h>
#include <fnmatch.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>

namespace siteview {

namespace {

std::vector<std::string> strings(json_object *array)
{
	std::vector<std::string> out;
	if (!array || !json_object_is_type(array, json_type_array))
		return out;
	for (size_t i = 0, n = json_object_array_length(array); i < n; i++) {
		json_object *s = json_object_array_get_idx(array, i);
		if (json_object_is_type(s, json_type_string))
			out.emplace_back(json_object_get_string(s));
	}
	return out;
}

std::string string_member(json_object *obj, const char *name)
{
	json_object *v = nullptr;
	if (!json_object_object_get_ex(obj, name, &v) || !json_object_is_type(v, json_type_string))
		return {};
	return json_object_get_string(v);
}

json_object *member(json_object *obj, const char *name)
{
	json_object *v = nullptr;
	return json_object_object_get_ex(obj, name, &v) ? v : nullptr;
}

bool matches_any(const std::vector<std::string> &patterns, const std::string &name)
{
	return std::any_of(patterns.begin(), patterns.end(),
			   [&](const std::string &p) { return fnmatch(p.c_str(), name.c_str(), 0) == 0; });
}

// Equal strings, compared in time that does not depend on where they differ.
bool same(const std::string &a, const std::string &b)
{
	if (a.size() != b.size())
		return false;
	unsigned char diff = 0;
	for (size_t i = 0; i < a.size(); i++)
		diff |= static_cast<unsigned char>(a[i] ^ b[i]);
	return diff == 0;
}

} // namespace

std::vector<Login> parse_logins(const std::string &text)
{
	std::vector<Login> out;
	std::unique_ptr<json_tokener, decltype(&json_tokener_free)> tok(json_tokener_new_ex(8), json_tokener_free);
	if (!tok)
		return out;
	std::unique_ptr<json_object, decltype(&json_object_put)> all(
		json_tokener_parse_ex(tok.get(), text.data(), static_cast<int>(text.size())), json_object_put);
	if (json_tokener_get_error(tok.get()) != json_tokener_success || !all ||
	    !json_object_is_type(all.get(), json_type_object))
		return out;
	json_object *list = member(all.get(), "logins");
	if (!list || !json_object_is_type(list, json_type_array))
		return out;
	for (size_t i = 0, n = json_object_array_length(list); i < n; i++) {
		json_object *e = json_object_array_get_idx(list, i);
		if (!json_object_is_type(e, json_type_object))
			continue;
		Login l{string_member(e, "username"), string_member(e, "password"), strings(member(e, "read")),
			strings(member(e, "write"))};
		if (!l.username.empty() && !l.password_hash.empty())
			out.push_back(std::move(l));
	}
	return out;
}

std::vector<Login> load_logins(const std::string &path)
{
	std::ifstream in(wlc::root_path(path));
	std::stringstream text;
	text << in.rdbuf();
	return parse_logins(text.str());
}

bool password_matches(const std::string &hash, const std::string &password)
{
	if (hash.size() < 3 || hash[0] != '$')
		return false;
	auto data = std::make_unique<crypt_data>();
	const char *out = crypt_r(password.c_str(), hash.c_str(), data.get());
	return out && out[0] != '*' && same(out, hash);
}

std::vector<Grant> granted_calls(const Login &login, const AclGroups &groups)
{
	std::vector<Grant> out;
	auto add = [&](const std::vector<Grant> &part) {
		for (const Grant &g : part)
			if (std::find(out.begin(), out.end(), g) == out.end())
				out.push_back(g);
	};
	for (const auto &[name, group] : groups) {
		if (matches_any(login.read, name))
			add(group.read);
		if (matches_any(login.write, name))
			add(group.write);
	}
	return out;
}

} // namespace siteview
