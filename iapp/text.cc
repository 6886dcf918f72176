// Address text and topic levels.
#include "text.h"

#include <cstdio>

namespace iapp {

namespace {

int hex_value(char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	return -1;
}

} // namespace

std::optional<Mac> parse_mac(std::string_view text)
{
	if (text.size() != 17)
		return std::nullopt;
	Mac mac;
	for (size_t i = 0; i < mac.size(); i++) {
		int hi = hex_value(text[i * 3]);
		int lo = hex_value(text[i * 3 + 1]);
		if (hi < 0 || lo < 0 || (i < 5 && text[i * 3 + 2] != ':'))
			return std::nullopt;
		mac[i] = static_cast<uint8_t>(hi << 4 | lo);
	}
	return mac;
}

std::string mac_text(const uint8_t *mac)
{
	char buf[18];
	std::snprintf(buf, sizeof(buf), "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
	return buf;
}

bool topic_level_ok(std::string_view name)
{
	return !name.empty() && name.find_first_of("/+#") == std::string_view::npos &&
	       name.find('\0') == std::string_view::npos;
}

} // namespace iapp
