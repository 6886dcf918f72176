// Pieces shared by the iapp tests: a bus daemon and iapp on a simulated
// device, a recording stand-in for the bridge object "mqtt.wlc", and reading
// the messages it recorded.
#pragma once

#include <wlc/blob.h>
#include <wlc/bus.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "harness.h"

namespace iapptest {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

std::string bus_socket(const std::string &devroot);
// The bus daemon of a simulated device, its socket under the device root.
std::unique_ptr<wlctest::Process> start_bus(const std::string &devroot);
// iapp on a device (log in <devroot>/iapp.log); does not wait.
std::unique_ptr<wlctest::Process> start_iapp(const std::string &devroot, const std::vector<std::string> &args);
std::string iapp_log(const std::string &devroot);

// A call through the bus, the loop running meanwhile; the bus status, or -1
// when no answer came.
int call(wlc::Bus &bus, const std::string &object, const std::string &method, const wlc::BlobBuf &args,
	 std::chrono::milliseconds limit = 10s);

// One "send" the stand-in received.
struct Sent {
	std::string path;
	int64_t qos = -1;  // -1 when absent or not a 32-bit integer
	Bytes message;     // the "message" table attribute as received
};

// Stands in for "mqtt.wlc" on a bus and records every "send".
class BridgeStandIn {
public:
	explicit BridgeStandIn(wlc::Bus &bus);
	std::vector<Sent> sent;
	wlc::BusObject &object() { return *object_; }

private:
	std::unique_ptr<wlc::BusObject> object_;
};

// Members of a recorded table (names in order), a string member, and the data
// of any member (optionally inside the table "key").
std::vector<std::string> member_names(const Bytes &table, const char *inside = nullptr);
std::optional<std::string> str_member(const Bytes &table, const char *name);
std::optional<Bytes> data_member(const Bytes &table, const char *name, const char *inside = nullptr);
std::optional<uint32_t> u32_member(const Bytes &table, const char *name, const char *inside = nullptr);

// A key table as a peer sends it, with member lengths as given.
struct KeyParts {
	size_t r0_id = 16, r0_kh_id = 8, r1_id = 16, r1_key = 32;
	uint32_t lifetime = 3600;
	bool omit_akm = false;
};
void add_key(wlc::BlobBuf &buf, const KeyParts &parts);

std::string hex(const uint8_t *data, size_t len);

} // namespace iapptest
