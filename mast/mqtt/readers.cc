// Readers of the join, presence, version, configuration, firmware, request,
// response, reconfig and log messages.
#include "readers.h"

#include <array>
#include <utility>

#include "payload.h"

namespace mast {

namespace {

enum { J_FW_VERSION, J_FW_REVISION, J_MODEL, J_SERIAL, J_CERT, J_IP, J_MAC, J_HOSTNAME, J_CONFIG, J_MAX };
const std::array<blobmsg_policy, J_MAX> kJoinPolicy = {{
	{"fw_version", BLOBMSG_TYPE_STRING}, {"fw_revision", BLOBMSG_TYPE_STRING}, {"model", BLOBMSG_TYPE_STRING},
	{"serial", BLOBMSG_TYPE_STRING}, {"cert", BLOBMSG_TYPE_STRING}, {"ip", BLOBMSG_TYPE_STRING},
	{"mac", BLOBMSG_TYPE_STRING}, {"hostname", BLOBMSG_TYPE_STRING}, {"config", BLOBMSG_TYPE_TABLE},
}};

enum { O_ONLINE, O_FW_VERSION, O_FW_REVISION, O_MODEL, O_SERIAL, O_IP, O_MAC, O_HOSTNAME, O_MAX };
const std::array<blobmsg_policy, O_MAX> kOnlinePolicy = {{
	{"online", BLOBMSG_TYPE_BOOL}, {"fw_version", BLOBMSG_TYPE_STRING}, {"fw_revision", BLOBMSG_TYPE_STRING},
	{"model", BLOBMSG_TYPE_STRING}, {"serial", BLOBMSG_TYPE_STRING}, {"ip", BLOBMSG_TYPE_STRING},
	{"mac", BLOBMSG_TYPE_STRING}, {"hostname", BLOBMSG_TYPE_STRING},
}};

enum { V_VERSION, V_REVISION, V_MAX };
const std::array<blobmsg_policy, V_MAX> kVersionPolicy = {{
	{"version", BLOBMSG_TYPE_STRING}, {"revision", BLOBMSG_TYPE_STRING},
}};

enum { C_ID, C_CONFIG, C_DRAFT, C_MAX };
const std::array<blobmsg_policy, C_MAX> kConfigPolicy = {{
	{"id", BLOBMSG_TYPE_STRING}, {"config", BLOBMSG_TYPE_TABLE}, {"draft", BLOBMSG_TYPE_BOOL},
}};

enum { F_PATH, F_PORT, F_MAX };
const std::array<blobmsg_policy, F_MAX> kFirmwarePolicy = {{
	{"path", BLOBMSG_TYPE_STRING}, {"port", BLOBMSG_TYPE_INT32},
}};

// A request or a response: its id and its data table.
enum { E_MSG_ID, E_DATA, E_MAX };
const std::array<blobmsg_policy, E_MAX> kEnvelopePolicy = {{
	{"msg_id", BLOBMSG_TYPE_INT32}, {"data", BLOBMSG_TYPE_TABLE},
}};

enum { U_OBJECT, U_METHOD, U_TIMEOUT, U_MESSAGE, U_MAX };
const std::array<blobmsg_policy, U_MAX> kUbusPolicy = {{
	{"object", BLOBMSG_TYPE_STRING}, {"method", BLOBMSG_TYPE_STRING}, {"timeout", BLOBMSG_TYPE_INT32},
	{"message", BLOBMSG_TYPE_TABLE},
}};

enum { L_MSG, L_ID, L_PRIORITY, L_SOURCE, L_TIME, L_MAX };
const std::array<blobmsg_policy, L_MAX> kLogPolicy = {{
	{"msg", BLOBMSG_TYPE_STRING}, {"id", BLOBMSG_TYPE_INT32}, {"priority", BLOBMSG_TYPE_INT32},
	{"source", BLOBMSG_TYPE_INT32}, {"time", BLOBMSG_TYPE_INT64},
}};

enum { M_MSG_ID, M_MAX };
const std::array<blobmsg_policy, M_MAX> kMsgIdPolicy = {{{"msg_id", BLOBMSG_TYPE_INT32}}};

} // namespace

JoinRead read_join_request(const std::string &ap, const void *payload, size_t len, wlc::BlobBuf &rec)
{
	blob_attr *attr = payload_check(payload, len);
	if (!attr)
		return JoinRead::missing_payload;
	wlc::Fields<J_MAX> f;
	f.parse(kJoinPolicy, attr);
	for (int required : {J_FW_VERSION, J_FW_REVISION, J_MODEL, J_SERIAL, J_CERT})
		if (!f.has(static_cast<size_t>(required)))
			return JoinRead::not_enough_data;
	rec.add("id", ap);
	rec.add("cert", *f.str(J_CERT));
	rec.add("fw_version", *f.str(J_FW_VERSION));
	rec.add("fw_revision", *f.str(J_FW_REVISION));
	rec.add("model", *f.str(J_MODEL));
	rec.add("serial", *f.str(J_SERIAL));
	rec.add_bool("join_req", true);
	for (auto [field, name] : {std::pair{J_IP, "ip"}, std::pair{J_MAC, "mac"}, std::pair{J_HOSTNAME, "hostname"}})
		if (f.has(static_cast<size_t>(field)))
			rec.add(name, *f.str(static_cast<size_t>(field)));
	if (f.has(J_CONFIG)) {
		auto config = rec.table("custom_config");
		rec.add_fields(f[J_CONFIG]);
	}
	return JoinRead::ok;
}

bool read_presence(const std::string &ap, const void *payload, size_t len, wlc::BlobBuf &rec)
{
	rec.add("id", ap);
	bool online = false;
	if (blob_attr *attr = payload_check(payload, len)) {
		wlc::Fields<O_MAX> f;
		f.parse(kOnlinePolicy, attr);
		static const std::pair<int, const char *> strings[] = {
			{O_FW_VERSION, "fw_version"}, {O_FW_REVISION, "fw_revision"}, {O_MODEL, "model"},
			{O_SERIAL, "serial"}, {O_IP, "ip"}, {O_MAC, "mac"}, {O_HOSTNAME, "hostname"}};
		for (auto [field, name] : strings)
			if (f.has(static_cast<size_t>(field)))
				rec.add(name, *f.str(static_cast<size_t>(field)));
		online = f.boolean(O_ONLINE).value_or(false);
	}
	rec.add_bool("online", online);
	return online;
}

std::optional<VersionMessage> read_version(const void *payload, size_t len)
{
	blob_attr *attr = payload_check(payload, len);
	if (!attr)
		return std::nullopt;
	wlc::Fields<V_MAX> f;
	f.parse(kVersionPolicy, attr);
	VersionMessage m;
	if (f.has(V_REVISION))
		m.revision = std::string(*f.str(V_REVISION));
	m.version = std::string(f.str(V_VERSION).value_or(""));
	return m;
}

std::optional<ConfigMessage> read_config(const void *payload, size_t len)
{
	blob_attr *attr = payload_check(payload, len);
	wlc::Fields<C_MAX> f;
	if (!attr || !f.parse(kConfigPolicy, attr) || !f.has(C_ID) || !f.has(C_CONFIG))
		return std::nullopt;
	ConfigMessage m;
	m.id = std::string(*f.str(C_ID));
	m.draft = f.boolean(C_DRAFT).value_or(false);
	m.json = wlc::BlobBuf().add_fields(f[C_CONFIG]).json();
	return m;
}

std::optional<FirmwareMessage> read_firmware(const void *payload, size_t len)
{
	blob_attr *attr = payload_check(payload, len);
	wlc::Fields<F_MAX> f;
	if (!attr || !f.parse(kFirmwarePolicy, attr) || !f.has(F_PATH) || !f.has(F_PORT))
		return std::nullopt;
	return FirmwareMessage{std::string(*f.str(F_PATH)), *f.u32(F_PORT)};
}

RequestRead read_telemetry_request(const void *payload, size_t len, TelemetryRequest &req)
{
	blob_attr *attr = payload_check(payload, len);
	if (!attr)
		return RequestRead::bad_payload;
	wlc::Fields<E_MAX> r;
	if (!r.parse(kEnvelopePolicy, attr) || !r.has(E_MSG_ID) || !r.has(E_DATA))
		return RequestRead::bad_request;
	wlc::Fields<U_MAX> u;
	if (!u.parse(kUbusPolicy, r[E_DATA]) || !u.has(U_OBJECT) || !u.has(U_METHOD))
		return RequestRead::bad_command;
	req.msg_id = *r.u32(E_MSG_ID);
	req.object = std::string(*u.str(U_OBJECT));
	req.method = std::string(*u.str(U_METHOD));
	req.timeout_ms = u.u32(U_TIMEOUT);
	req.message = u[U_MESSAGE];
	return RequestRead::ok;
}

std::optional<ResponseMessage> read_response(const void *payload, size_t len)
{
	blob_attr *attr = payload_check(payload, len);
	wlc::Fields<E_MAX> f;
	if (!attr || !f.parse(kEnvelopePolicy, attr) || !f.has(E_MSG_ID))
		return std::nullopt;
	return ResponseMessage{static_cast<int32_t>(*f.u32(E_MSG_ID)), f[E_DATA]};
}

std::optional<uint32_t> read_reconfig(const void *payload, size_t len)
{
	blob_attr *attr = payload_check(payload, len);
	wlc::Fields<M_MAX> f;
	if (!attr || !f.parse(kMsgIdPolicy, attr))
		return std::nullopt;
	return f.u32(M_MSG_ID);
}

std::optional<LogEntry> read_log_entry(const void *payload, size_t len)
{
	blob_attr *attr = payload_check(payload, len);
	wlc::Fields<L_MAX> f;
	if (!attr || !f.parse(kLogPolicy, attr) || !f.has(L_MSG) || !f.has(L_PRIORITY))
		return std::nullopt;
	return LogEntry{std::string(*f.str(L_MSG)), *f.u32(L_PRIORITY)};
}

} // namespace mast
