// Checks of outside names.
#include "identifiers.h"

#include <algorithm>

namespace fleet {

namespace {

bool name_char(char c)
{
	return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
	       c == '-';
}

bool hex_digit(char c, bool upper_too)
{
	return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (upper_too && c >= 'A' && c <= 'F');
}

// "-hh-hh-hh" at the end, lower-case as the AP prints it.
bool ends_in_mac_bytes(std::string_view id)
{
	if (id.size() < 9)
		return false;
	std::string_view tail = id.substr(id.size() - 9);
	for (size_t i = 0; i < tail.size(); i++) {
		bool ok = i % 3 == 0 ? tail[i] == '-' : hex_digit(tail[i], false);
		if (!ok)
			return false;
	}
	return true;
}

} // namespace

bool is_device_id(std::string_view id)
{
	if (id.empty() || id.size() > kMaxDeviceIdLen || !std::all_of(id.begin(), id.end(), name_char))
		return false;
	return id.size() == kMaxDeviceIdLen || ends_in_mac_bytes(id);
}

bool is_mac(std::string_view mac)
{
	if (mac.size() != 17)
		return false;
	for (size_t i = 0; i < mac.size(); i++) {
		bool ok = i % 3 == 2 ? mac[i] == ':' : hex_digit(mac[i], true);
		if (!ok)
			return false;
	}
	return true;
}

bool is_site_name(std::string_view site)
{
	return !site.empty() && site.size() <= 32 && std::all_of(site.begin(), site.end(), name_char);
}

std::string printable(std::string_view text, size_t max)
{
	std::string out(text.substr(0, max));
	std::replace_if(out.begin(), out.end(), [](char c) { return c < 0x20 || c > 0x7e; }, '?');
	return out;
}

} // namespace fleet
