// Serves the driver seam of every simulated device: each device root gets a
// request socket and an event socket under /var/run/zev-sim; scans end with
// channel statistics and BSS events after their dwell time.
#pragma once

#include <wlc/loop.h>

#include <list>
#include <memory>
#include <string>
#include <vector>

#include "../world/world.h"

namespace sim {

class DriverServer {
public:
	explicit DriverServer(World &world);
	~DriverServer();
	DriverServer(const DriverServer &) = delete;
	DriverServer &operator=(const DriverServer &) = delete;

	// Starts serving one device (its root must exist).
	bool serve(const std::string &ap_name);
	// Sends a datagram to every event subscriber of the device.
	void broadcast(const std::string &ap_name, const std::vector<uint8_t> &datagram);
	// How many programs listen to the device's events now (pending connects
	// included): a test's sign that a daemon will see what happens next.
	[[nodiscard]] size_t subscribers(const std::string &ap_name);

private:
	struct Device;
	struct Conn;
	struct Scan;

	void accept_requests(Device &dev);
	void accept_events(Device &dev);
	void handle(Device &dev, Conn &conn);
	void start_scan(Device &dev, const std::string &ifname, int channel, int duration_ms);
	void finish_scan(Scan &scan);
	Device *device(const std::string &name);

	World &world_;
	std::list<std::unique_ptr<Device>> devices_;
	std::list<std::unique_ptr<Scan>> scans_;
};

} // namespace sim
