// Reading "db.ap" records.
#include "records.h"

#include <wlc/blob.h>

#include <array>

#include "common/identifiers.h"
#include "common/message_check.h"

namespace fleet {

namespace {

enum {
	F_ID, F_CERT, F_FW_VERSION, F_FW_REVISION, F_MODEL, F_SERIAL, F_JOIN_REQ, F_IP, F_MAC, F_HOSTNAME,
	F_CUSTOM_CONFIG, F_ONLINE, F_MAX
};
const std::array<blobmsg_policy, F_MAX> kPolicy = {{
	{"id", BLOBMSG_TYPE_STRING}, {"cert", BLOBMSG_TYPE_STRING}, {"fw_version", BLOBMSG_TYPE_STRING},
	{"fw_revision", BLOBMSG_TYPE_STRING}, {"model", BLOBMSG_TYPE_STRING}, {"serial", BLOBMSG_TYPE_STRING},
	{"join_req", BLOBMSG_TYPE_BOOL}, {"ip", BLOBMSG_TYPE_STRING}, {"mac", BLOBMSG_TYPE_STRING},
	{"hostname", BLOBMSG_TYPE_STRING}, {"custom_config", BLOBMSG_TYPE_TABLE}, {"online", BLOBMSG_TYPE_BOOL},
}};

// The most each text may hold: what an AP can send (its certificate is cut
// at 4095 bytes, its version texts at 63, ...).
constexpr std::array<size_t, F_MAX> kMaxLen = {
	kMaxDeviceIdLen, 4095, 63, 63, 23, 31, 0, 18, 17, 64, 0, 0,
};
constexpr int kMaxConfigNesting = 8;
constexpr size_t kMaxConfigBytes = 64 * 1024;

using Fields = wlc::Fields<F_MAX>;

// Empty when the text fields that are present fit their limits.
std::string bad_text(const Fields &f)
{
	for (size_t i = 0; i < F_MAX; i++) {
		if (kPolicy[i].type != BLOBMSG_TYPE_STRING || !f.has(i))
			continue;
		if (f.str(i)->size() > kMaxLen[i])
			return std::string("field '") + kPolicy[i].name + "' is longer than " + std::to_string(kMaxLen[i]);
	}
	if (f.has(F_MAC) && !is_mac(*f.str(F_MAC)))
		return "field 'mac' is not a MAC address";
	return "";
}

std::optional<std::string> opt(const Fields &f, size_t i)
{
	if (!f.has(i))
		return std::nullopt;
	return std::string(*f.str(i));
}

ApRecordMessage read_join(const Fields &f)
{
	for (size_t i : {F_CERT, F_FW_VERSION, F_FW_REVISION, F_MODEL, F_SERIAL})
		if (!f.has(i))
			return BadRecord{std::string("join record without '") + kPolicy[i].name + "'"};
	if (!*f.boolean(F_JOIN_REQ))
		return BadRecord{"field 'join_req' must be true"};
	JoinInfo j{std::string(*f.str(F_ID)), *opt(f, F_CERT), *opt(f, F_FW_VERSION), *opt(f, F_FW_REVISION),
		   *opt(f, F_MODEL), *opt(f, F_SERIAL), opt(f, F_IP), opt(f, F_MAC), opt(f, F_HOSTNAME), std::nullopt};
	if (blob_attr *cfg = f[F_CUSTOM_CONFIG]) {
		if (blob_len(cfg) > kMaxConfigBytes || !nests_within(cfg, kMaxConfigNesting))
			return BadRecord{"field 'custom_config' is too large or too deep"};
		j.custom_config = table_json(cfg);
	}
	return j;
}

ApRecordMessage read_presence(const Fields &f)
{
	PresenceInfo p;
	p.id = std::string(*f.str(F_ID));
	p.fw_version = opt(f, F_FW_VERSION);
	p.fw_revision = opt(f, F_FW_REVISION);
	p.model = opt(f, F_MODEL);
	p.serial = opt(f, F_SERIAL);
	p.ip = opt(f, F_IP);
	p.mac = opt(f, F_MAC);
	p.hostname = opt(f, F_HOSTNAME);
	p.online = *f.boolean(F_ONLINE);
	return p;
}

} // namespace

ApRecordMessage read_ap_record(blob_attr *msg)
{
	std::string wrong = wrong_types(msg, kPolicy);
	if (!wrong.empty())
		return BadRecord{wrong};
	Fields f;
	if (!f.parse(kPolicy, msg))
		return BadRecord{"malformed message"};
	if (!f.has(F_ID))
		return BadRecord{"record without 'id'"};
	if (!is_device_id(*f.str(F_ID)))
		return BadRecord{"'" + printable(*f.str(F_ID)) + "' is not a device identifier"};
	std::string text = bad_text(f);
	if (!text.empty())
		return BadRecord{text};
	if (f.has(F_JOIN_REQ))
		return read_join(f);
	if (f.has(F_ONLINE))
		return read_presence(f);
	return BadRecord{"record with neither 'join_req' nor 'online'"};
}

} // namespace fleet
