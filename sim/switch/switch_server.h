// Serves the switch side of every simulated device: the kernel's generic
// netlink (the family controller and the driver's "mt753x" family) on
// /var/run/zev-sim/genl.sock and the Ethernet driver's private requests on
// eth0 on /var/run/zev-sim/eth.sock, both answered from the device's
// switch register model.
#pragma once

#include <wlc/loop.h>

#include <list>
#include <memory>
#include <string>
#include <vector>

#include "../world/world.h"

namespace sim {

class SwitchServer {
public:
	explicit SwitchServer(World &world);
	~SwitchServer();
	SwitchServer(const SwitchServer &) = delete;
	SwitchServer &operator=(const SwitchServer &) = delete;

	// Starts serving one device (its root must exist).
	bool serve(const std::string &ap_name);

private:
	struct Listener;
	struct Conn;

	void accept(Listener &l);
	void handle(Listener &l, Conn &c);

	World &world_;
	std::list<std::unique_ptr<Listener>> listeners_;
};

// The answers, apart from the sockets: the datagrams that answer one request datagram.
std::vector<std::vector<uint8_t>> answer_genl(SwitchModel &model, const std::vector<uint8_t> &request);
std::vector<uint8_t> answer_eth(SwitchModel &model, const std::vector<uint8_t> &request);

// The id the simulated kernel gives the "mt753x" family.
constexpr uint16_t kMt753xFamily = 0x1A;

} // namespace sim
