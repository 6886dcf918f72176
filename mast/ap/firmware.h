// Firmware update of an adopted AP: the controller names the image on its
// HTTPS server; the AP downloads it inside the event loop (the broker
// connection keeps being served meanwhile), trusting only the controller
// certificate saved at join, and hands it to the system's upgrade tool.
#pragma once

#include <wlc/curl.h>
#include <wlc/loop.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "../mqtt/payload.h"

namespace mast {

class Firmware {
public:
	static constexpr long kConnectTimeoutS = 4;
	// A transfer that moves less than one byte per second for this long has stalled.
	static constexpr long kStallTimeS = 10;

	// retry: asks for the controller's VERSION again (after a failure).
	Firmware(std::string controller_host, std::function<void()> retry);
	~Firmware();
	Firmware(const Firmware &) = delete;
	Firmware &operator=(const Firmware &) = delete;

	// A FIRMWARE message: starts the download (one at a time).
	void handle(const TopicLevels &topic, const void *payload, size_t len);
	bool downloading() const { return transfer_ != nullptr; }

private:
	struct Transfer;
	[[nodiscard]] bool ready();
	void fail(const char *what);
	void transfer_done(bool ok, const std::string &error);
	void drive(int fd, int events);
	void check_done();
	static int on_socket(void *easy, int fd, int what, void *self, void *socket_data) noexcept;
	static int on_timer(void *multi, long timeout_ms, void *self) noexcept;

	std::string host_;
	std::function<void()> retry_;
	const wlc::CurlApi *curl_ = nullptr;
	CURLM *multi_ = nullptr;
	std::unique_ptr<Transfer> transfer_;
	std::map<int, std::unique_ptr<wlc::FdWatch>> watches_;
	wlc::Timer curl_timer_;
	wlc::Timer retry_timer_;
	wlc::Timer reaper_;
};

} // namespace mast
