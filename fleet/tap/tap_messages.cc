// Reading the tapped messages.
#include "tap_messages.h"

#include <wlc/blob.h>
#include <wlc/log.h>

#include <array>
#include <charconv>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "common/identifiers.h"

namespace fleet {

namespace {

enum { L_MSG, L_PRIORITY, L_MAX };
const std::array<blobmsg_policy, L_MAX> kLogPolicy = {{
	{"msg", BLOBMSG_TYPE_STRING}, {"priority", BLOBMSG_TYPE_INT32},
}};
enum { C_CHANNEL, C_POWER, C_MAX };
const std::array<blobmsg_policy, C_MAX> kCommandPolicy = {{
	{"channel", BLOBMSG_TYPE_INT32}, {"power", BLOBMSG_TYPE_INT32},
}};
constexpr int32_t kMaxRadio = 255;

std::vector<std::string_view> levels(std::string_view topic)
{
	std::vector<std::string_view> out;
	for (size_t start = 0;;) {
		size_t slash = topic.find('/', start);
		out.push_back(topic.substr(start, slash == std::string_view::npos ? slash : slash - start));
		if (slash == std::string_view::npos)
			return out;
		start = slash + 1;
	}
}

// The payload's attribute when its declared length lies within the payload
// and covers its own headers (bytes after it are ignored); null otherwise.
blob_attr *payload_attr(const void *payload, size_t len)
{
	if (!payload || len < sizeof(blob_attr) || len > std::numeric_limits<uint32_t>::max())
		return nullptr;
	auto *attr = static_cast<blob_attr *>(const_cast<void *>(payload));
	size_t raw = blob_raw_len(attr);
	if (raw > len || raw < sizeof(blob_attr) || (blob_is_extended(attr) && !blobmsg_check_attr(attr, false)))
		return nullptr;
	return attr;
}

std::optional<int32_t> radio_level(std::string_view level)
{
	int32_t radio = -1;
	auto [end, ec] = std::from_chars(level.data(), level.data() + level.size(), radio);
	if (level.empty() || ec != std::errc() || end != level.data() + level.size() || radio < 0 || radio > kMaxRadio)
		return std::nullopt;
	return radio;
}

Tapped read_line(std::string_view ap, const void *payload, size_t len, int64_t at)
{
	if (!is_device_id(ap))
		return Refused{"'" + printable(ap) + "' is not a device identifier"};
	blob_attr *attr = payload_attr(payload, len);
	wlc::Fields<L_MAX> f;
	if (!attr || !f.parse(kLogPolicy, attr))
		return Refused{"not a log entry"};
	if (!f.has(L_MSG) || !f.has(L_PRIORITY))
		return Refused{"a log entry without msg or priority"};
	return TappedLine{std::string(ap), LogLine{at, *f.u32(L_PRIORITY), std::string(*f.str(L_MSG))}};
}

Tapped read_command(const std::vector<std::string_view> &l, const void *payload, size_t len, int64_t at)
{
	std::optional<int32_t> radio = radio_level(l[6]);
	if (!is_site_name(l[3]) || (l[5] != "all" && !is_device_id(l[5])) || !radio)
		return Refused{"a command topic with a bad site, target or radio"};
	blob_attr *attr = payload_attr(payload, len);
	wlc::Fields<C_MAX> f;
	if (!attr || !f.parse(kCommandPolicy, attr))
		return Refused{"not a command message"};
	if (!f.has(C_CHANNEL) && !f.has(C_POWER))
		return Refused{"a command with neither channel nor power"};
	RrmCommand c{at, std::string(l[5]), *radio, std::nullopt, std::nullopt};
	if (f.has(C_CHANNEL))
		c.channel = static_cast<int32_t>(*f.u32(C_CHANNEL));
	if (f.has(C_POWER))
		c.power = static_cast<int32_t>(*f.u32(C_POWER));
	return TappedCommand{std::string(l[3]), std::move(c)};
}

} // namespace

Tapped read_tapped(const std::string &topic, const void *payload, size_t len, int64_t at)
{
	std::vector<std::string_view> l = levels(topic);
	bool log = l.size() == 6 && l[0] == "zev" && l[1] == "wlc" && l[2] == "telemetry" && l[3] == "ap" &&
		   l[5] == "log";
	if (log)
		return read_line(l[4], payload, len, at);
	bool command = l.size() == 9 && l[0] == "zev" && l[1] == "wlc" && l[2] == "rrm" && l[4] == "ap" &&
		       l[7] == "cmd" && l[8] == "config";
	if (command)
		return read_command(l, payload, len, at);
	return Refused{"an unexpected topic"};
}

void take_tapped(TapStore &store, const std::string &topic, const void *payload, size_t len, int64_t at)
{
	Tapped t = read_tapped(topic, payload, len, at);
	if (auto *line = std::get_if<TappedLine>(&t))
		store.add_line(line->ap, std::move(line->line));
	else if (auto *command = std::get_if<TappedCommand>(&t))
		store.add_command(command->site, std::move(command->command));
	else
		wlc::logf(LOG_WARNING, "Ignored tapped message on %s: %s", printable(topic, 128).c_str(),
			  std::get<Refused>(t).reason.c_str());
}

} // namespace fleet
