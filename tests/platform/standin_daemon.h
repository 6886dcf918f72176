// A stand-in bus daemon for one client: greets it, then runs a script that
// reads the client's messages and writes replies in whatever pieces the test
// chooses, so the client's read path meets splits, joins and descriptors.
#pragma once

#include <wlc/c/ubus.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace wlctest {

using Bytes = std::vector<uint8_t>;

// One message as the client sent it.
struct WireMsg {
	uint8_t type = 0;
	uint16_t seq = 0;
	uint32_t peer = 0;
	Bytes attrs; // the attribute list, its blob header included
	bool ok = false;
};

// A message's bytes on the wire: header, then the attribute list of b.
Bytes wire_bytes(uint8_t type, uint16_t seq, uint32_t peer, const blob_buf &b);
// A DATA reply carrying {"v": value} for the call seq to object obj.
Bytes data_reply(uint16_t seq, uint32_t obj, const std::string &value);
// The STATUS reply ending that call.
Bytes status_reply(uint16_t seq, uint32_t obj, int status);

class StandInDaemon {
public:
	using Script = std::function<void(int client)>;

	// Listens on path; the script runs on its own thread once the client is
	// greeted with the id client_id.
	StandInDaemon(const std::string &path, uint32_t client_id, Script script);
	~StandInDaemon();
	StandInDaemon(const StandInDaemon &) = delete;
	StandInDaemon &operator=(const StandInDaemon &) = delete;

	// Waits for the script to end.
	void join();

	// For scripts: the next whole message from the client (ok false at end).
	static WireMsg read_msg(int client);
	// Writes all of bytes in one call, with fd passed along when fd >= 0.
	static bool write_once(int client, const Bytes &bytes, int fd = -1);
	// Writes bytes in pieces ending at the given offsets (and the rest), each
	// piece only once the client has taken everything before it.
	static bool write_in_pieces(int client, const Bytes &bytes, const std::vector<size_t> &cuts);
	// Waits until the client has read everything written to it.
	static bool wait_taken(int client);

private:
	int listener_ = -1;
	std::thread thread_;
};

} // namespace wlctest
