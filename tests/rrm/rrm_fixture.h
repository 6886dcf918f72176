// A device with its own bus daemon and root, a stand-in for the MQTT bridge
// "mqtt.wlc" that records every publication, and helpers that call bus
// methods while this process's event loop runs.
#pragma once

#include <wlc/bus.h>
#include <wlc/c/ubox.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "harness.h"

namespace rrmtest {

using namespace std::chrono_literals;

struct Published {
	std::string path;
	std::string message; // JSON
};

class BusTest : public wlctest::DeviceTest {
protected:
	void SetUp() override;
	void TearDown() override;

	// Puts the bridge stand-in on the bus.
	void add_bridge();
	void remove_bridge() { bridge_.reset(); }
	// A call with a message built by fill; reply (JSON) when asked.
	int call(const std::string &object, const std::string &method, const std::function<void(wlc::BlobBuf &)> &fill,
		 std::string *reply = nullptr);
	int call_json(const std::string &object, const std::string &method, const std::string &json,
		      std::string *reply = nullptr);
	std::string log_text() const;

	wlc::Bus client_;
	std::unique_ptr<wlc::BusObject> bridge_;
	std::vector<Published> published_;
	std::string log_path_;
};

} // namespace rrmtest
