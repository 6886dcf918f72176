// SNTP packets: building the client request and reading a server's reply.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace vigil::ntp {

constexpr size_t kPacketSize = 48;
// Where the timestamps lie in a packet.
constexpr size_t kOriginate = 24, kReceive = 32, kTransmit = 40;
using Packet = std::array<uint8_t, kPacketSize>;

constexpr int64_t kNsPerSecond = 1000000000;
// Seconds from 1900 (NTP's epoch) to 1970.
constexpr int64_t kUnixEpoch = 2208988800;

// ns since 1970 as an NTP timestamp (seconds of the current era, fraction), big-endian.
void put_timestamp(uint8_t *at, int64_t ns);
// An NTP timestamp as ns since 1970, taking the era (2036 and after) that
// lies nearest to now_ns.
int64_t timestamp_ns(const uint8_t *at, int64_t now_ns);

// A client request (version 4) sent at t1_ns.
Packet request(int64_t t1_ns);

struct Measurement {
	int64_t offset_ns = 0;
	int64_t delay_ns = 0;
};
// The offset and delay a reply gives, or nullopt when the reply is not
// usable: unsynchronised, not from a server, a kiss-o'-death (stratum 0),
// or without a transmit time.
std::optional<Measurement> measure(const Packet &reply, int64_t t1_ns, int64_t t4_ns);

} // namespace vigil::ntp
