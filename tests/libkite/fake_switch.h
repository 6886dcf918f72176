// Stands where the simulator's switch sockets would be: records every
// request datagram and answers with what the test scripts, so that tests see
// the exact bytes the library sends and can hand it malformed replies.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

namespace kitetest {

using Bytes = std::vector<uint8_t>;

// Hand-made netlink pieces (host byte order, as on a netlink socket).
Bytes attr(uint16_t type, const Bytes &payload);
Bytes attr_u32(uint16_t type, uint32_t v);
Bytes nlmsg(uint16_t type, uint16_t flags, uint32_t seq, uint32_t port, const Bytes &payload);
Bytes genl(uint8_t cmd, uint8_t version, const Bytes &attrs);
Bytes ack(const Bytes &request, int32_t error);
uint32_t seq_of(const Bytes &request);
uint32_t port_of(const Bytes &request);
// A request with its sequence number and port id zeroed.
Bytes masked(Bytes request);
// Concatenation.
Bytes operator+(Bytes a, const Bytes &b);

constexpr uint16_t kFamily = 0x1A;

class FakeSwitch {
public:
	// The netlink answer: the datagrams to send back for a request datagram.
	using GenlAnswer = std::function<std::vector<Bytes>(const Bytes &request)>;
	// The Ethernet answer: result, errno and the three words to send back.
	struct EthReply {
		int32_t result = 0;
		int32_t error = 0;
		uint32_t words[3] = {0, 0, 0};
	};
	using EthAnswer = std::function<EthReply(uint32_t request, const Bytes &ifr, const uint32_t words[3])>;

	// family: whether the family controller knows "mt753x"; eth: whether the Ethernet socket exists.
	FakeSwitch(const wlctest::TempRoot &root, bool family = true, bool eth = true);
	~FakeSwitch();

	void on_genl(GenlAnswer a);
	void on_eth(EthAnswer a);
	// Request datagrams received so far (family lookups included).
	std::vector<Bytes> genl_requests();
	std::vector<Bytes> eth_requests();

private:
	void run();

	int genl_fd_ = -1, eth_fd_ = -1, stop_[2] = {-1, -1};
	bool family_;
	std::mutex mu_;
	GenlAnswer genl_answer_;
	EthAnswer eth_answer_;
	std::vector<Bytes> genl_seen_, eth_seen_;
	std::thread thread_;
};

} // namespace kitetest
