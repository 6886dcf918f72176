// A scan job: an off-channel survey of one radio over a list of channels,
// one scan request per channel, driven by the driver's events. Shared by
// "radio_scan" and the automatic channel selection.
#pragma once

#include <wlc/bus.h>
#include <wlc/loop.h>
#include <zev/wifi.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vigil {

class ScanJob {
public:
	static constexpr size_t kMaxChannels = 32;
	static constexpr int kTimeoutMs = 10000;

	struct Settings {
		uint8_t radio = 0;
		uint8_t type = 0;
		int interval = 200; // dwell time per channel, ms
		std::vector<int> channels;
		int timeout_ms = kTimeoutMs;
	};
	// Called once, when the last channel is done or the time is up.
	using Done = std::function<void(ScanJob &job, bool timed_out)>;

	ScanJob(Settings settings, Done done);
	~ScanJob();
	ScanJob(const ScanJob &) = delete;
	ScanJob &operator=(const ScanJob &) = delete;

	// Picks the radio's first interface that is up, subscribes to its
	// events and sends the first request; false when it cannot start.
	[[nodiscard]] bool start();

	uint8_t radio() const { return settings_.radio; }
	const std::string &ifname() const { return ifname_; }
	const std::vector<zev_wifi_chan_stats> &surveys() const { return surveys_; }
	const std::vector<zev_wifi_bss> &bss() const { return bss_; }
	bool finished() const { return finished_; }

	// The request answered when the job is done.
	wlc::DeferredReply request;

private:
	static int visit(const zev_wifi_iface *iface, void *user) noexcept;
	static void on_chan_stats(const char *ifname, const zev_wifi_chan_stats *ev, void *user) noexcept;
	static void on_bss(const char *ifname, const zev_wifi_bss_list *ev, void *user) noexcept;
	bool begin_on(const char *ifname);
	bool send_request();
	void readable();
	void stop();
	void finish(bool timed_out);

	Settings settings_;
	Done done_;
	std::string ifname_;
	size_t position_ = 0;
	int events_fd_ = -1;
	std::unique_ptr<wlc::FdWatch> watch_;
	wlc::Timer timer_;
	std::vector<zev_wifi_chan_stats> surveys_;
	std::vector<zev_wifi_bss> bss_;
	bool started_ = false;
	bool last_channel_done_ = false;
	bool finished_ = false;
};

} // namespace vigil
