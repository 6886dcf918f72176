// Shared pieces of the iapp tests.
#include "iapp_helpers.h"

#include <sys/stat.h>

namespace iapptest {

namespace {

// Walks a table's members; the one named `name` (inside `inside` when given).
blob_attr *find_member(const Bytes &table, const char *name, const char *inside)
{
	if (table.size() < sizeof(blob_attr))
		return nullptr;
	auto *attr = reinterpret_cast<blob_attr *>(const_cast<uint8_t *>(table.data()));
	blob_attr *pos;
	size_t rem;
	if (inside) {
		blob_attr *outer = nullptr;
		blobmsg_for_each_attr(pos, attr, rem)
			if (std::string(blobmsg_name(pos)) == inside)
				outer = pos;
		if (!outer)
			return nullptr;
		attr = outer;
	}
	blobmsg_for_each_attr(pos, attr, rem)
		if (std::string(blobmsg_name(pos)) == name)
			return pos;
	return nullptr;
}

} // namespace

std::string bus_socket(const std::string &devroot)
{
	return devroot + "/var/run/ubus/ubus.sock";
}

std::unique_ptr<wlctest::Process> start_bus(const std::string &devroot)
{
	wlctest::write_text(devroot + "/var/run/ubus/.keep", "");
	std::string sock = bus_socket(devroot);
	auto proc = std::make_unique<wlctest::Process>(std::vector<std::string>{WLC_UBUSD, "-s", sock});
	bool up = wlctest::wait_until([&] {
		struct stat st;
		return stat(sock.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
	}, 5s);
	if (!up)
		throw std::runtime_error("bus daemon did not start");
	return proc;
}

std::unique_ptr<wlctest::Process> start_iapp(const std::string &devroot, const std::vector<std::string> &args)
{
	std::vector<std::string> argv = {std::string(WLC_BUILD_DIR) + "/iapp/iapp"};
	argv.insert(argv.end(), args.begin(), args.end());
	return std::make_unique<wlctest::Process>(
		argv, std::vector<std::string>{"WLC_ROOT=" + devroot, "WLC_LOG_FILE=" + devroot + "/iapp.log"});
}

std::string iapp_log(const std::string &devroot)
{
	return wlctest::read_text(devroot + "/iapp.log");
}

int call(wlc::Bus &bus, const std::string &object, const std::string &method, const wlc::BlobBuf &args,
	 std::chrono::milliseconds limit)
{
	uint32_t id = bus.lookup(object);
	if (!id)
		return UBUS_STATUS_NOT_FOUND;
	int status = -1;
	bool done = false;
	wlc::AsyncCall c;
	bus.call_async(id, method, args, c, nullptr, [&](int s) {
		status = s;
		done = true;
	});
	wlctest::pump([&] { return done; }, limit);
	return status;
}

BridgeStandIn::BridgeStandIn(wlc::Bus &bus)
{
	std::vector<blobmsg_policy> policy = {
		{"path", BLOBMSG_TYPE_STRING}, {"message", BLOBMSG_TYPE_TABLE}, {"qos", BLOBMSG_TYPE_INT32}};
	object_ = std::make_unique<wlc::BusObject>("mqtt.wlc", std::vector<wlc::Method>{
		{"send", policy, [this](wlc::Request &, blob_attr *msg) {
			 wlc::Fields<3> f;
			 f.parse({{{"path", BLOBMSG_TYPE_STRING}, {"message", BLOBMSG_TYPE_TABLE}, {"qos", BLOBMSG_TYPE_INT32}}}, msg);
			 Sent s;
			 s.path = std::string(f.str(0).value_or(""));
			 s.qos = f.u32(2) ? static_cast<int64_t>(*f.u32(2)) : -1;
			 if (f[1]) {
				 auto *p = reinterpret_cast<const uint8_t *>(f[1]);
				 s.message.assign(p, p + blob_raw_len(f[1]));
			 }
			 sent.push_back(std::move(s));
			 return UBUS_STATUS_OK;
		 }},
	}, "mqtt.instance");
	if (object_->add(bus) != UBUS_STATUS_OK)
		throw std::runtime_error("cannot add the mqtt.wlc stand-in");
}

std::vector<std::string> member_names(const Bytes &table, const char *inside)
{
	std::vector<std::string> out;
	if (table.size() < sizeof(blob_attr))
		return out;
	auto *attr = reinterpret_cast<blob_attr *>(const_cast<uint8_t *>(table.data()));
	if (inside) {
		blob_attr *key = find_member(table, inside, nullptr);
		if (!key)
			return out;
		attr = key;
	}
	blob_attr *pos;
	size_t rem;
	blobmsg_for_each_attr(pos, attr, rem)
		out.emplace_back(blobmsg_name(pos));
	return out;
}

std::optional<std::string> str_member(const Bytes &table, const char *name)
{
	blob_attr *a = find_member(table, name, nullptr);
	if (!a || blobmsg_type(a) != BLOBMSG_TYPE_STRING)
		return std::nullopt;
	return std::string(blobmsg_get_string(a));
}

std::optional<Bytes> data_member(const Bytes &table, const char *name, const char *inside)
{
	blob_attr *a = find_member(table, name, inside);
	if (!a)
		return std::nullopt;
	auto *p = static_cast<const uint8_t *>(blobmsg_data(a));
	return Bytes(p, p + blobmsg_data_len(a));
}

std::optional<uint32_t> u32_member(const Bytes &table, const char *name, const char *inside)
{
	blob_attr *a = find_member(table, name, inside);
	if (!a || blobmsg_type(a) != BLOBMSG_TYPE_INT32)
		return std::nullopt;
	return blobmsg_get_u32(a);
}

void add_key(wlc::BlobBuf &buf, const KeyParts &parts)
{
	auto key = buf.table("key");
	auto bin = [&](const char *name, size_t len, uint8_t fill) {
		Bytes b(len, fill);
		blobmsg_add_field(buf.raw(), BLOBMSG_TYPE_UNSPEC, name, b.data(), static_cast<unsigned int>(len));
	};
	bin("pmk_r0_id", parts.r0_id, 0x10);
	bin("pmk_r0_kh_id", parts.r0_kh_id, 'k');
	bin("pmk_r1_id", parts.r1_id, 0x11);
	bin("pmk_r1_key", parts.r1_key, 0x22);
	buf.add_u32("cipher", 4);
	if (!parts.omit_akm)
		buf.add_u32("akm", 3);
	buf.add_u32("lifetime", parts.lifetime);
	buf.add_u32("reassoc_timeout", 1000);
}

std::string hex(const uint8_t *data, size_t len)
{
	static const char digits[] = "0123456789abcdef";
	std::string out;
	for (size_t i = 0; i < len; i++) {
		out += digits[data[i] >> 4];
		out += digits[data[i] & 15];
	}
	return out;
}

} // namespace iapptest
