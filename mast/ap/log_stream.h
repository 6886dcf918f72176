// The AP's system log streamed to the controller: the log service's "read"
// hands back a descriptor on which it writes one blob entry after another;
// each whole entry is published unchanged on the AP's log topic.
#pragma once

#include <wlc/bus.h>
#include <wlc/loop.h>

#include <memory>
#include <string>

#include "../mqtt/instance.h"
#include "log_frames.h"

namespace mast {

class LogStream {
public:
	LogStream(wlc::Bus &bus, MqttInstance &inst, const std::string &own_id);
	~LogStream();
	LogStream(const LogStream &) = delete;
	LogStream &operator=(const LogStream &) = delete;

	// Stops a running stream and asks for a new one; -1 when the log
	// service is missing.
	int start();
	void stop();

	bool streaming() const { return watch_ != nullptr; }
	size_t published() const { return published_; }

private:
	struct Slot {
		ubus_request raw = {};
		LogStream *owner = nullptr;
	};
	static void on_fd(ubus_request *req, int fd) noexcept;
	static void on_done(ubus_request *req, int status) noexcept;
	void attach(int fd);
	void readable();
	void broken(const char *why);

	wlc::Bus &bus_;
	MqttInstance &inst_;
	std::string topic_;
	Slot req_;
	bool pending_ = false;
	wlc::UniqueFd fd_;
	std::unique_ptr<wlc::FdWatch> watch_;
	std::unique_ptr<wlc::FdWatch> retired_;
	LogFrames frames_;
	size_t published_ = 0;
	wlc::Timer restart_;
};

} // namespace mast
