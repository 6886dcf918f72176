// The agent's scan cycle: one scan request per configured channel with
// pauses between channels and between list scans, the driver's statistics
// and BSS events collected per channel, and the three reports sent at the
// end of every list.
#pragma once

#include <wlc/loop.h>
#include <zev/wifi.h>

#include <memory>
#include <string>
#include <vector>

#include "common/codec.h"
#include "common/options.h"
#include "common/publisher.h"

namespace rrm {

struct ScanTimings {
	int dwell = 0;  // ms on one channel
	int gap = 0;    // ms between channels
	int relax = 0;  // ms between list scans
	uint8_t scan_type = 0; // 0 passive, 1 active
};

class Scanner {
public:
	Scanner(const Config &cfg, Publisher &publisher, std::string device_id);
	~Scanner();
	Scanner(const Scanner &) = delete;
	Scanner &operator=(const Scanner &) = delete;

	// Drops the list being scanned and schedules the next after the pause.
	void end_cycle();
	ScanTimings &timings() { return timings_; }
	[[nodiscard]] bool scanning() const { return watch_ != nullptr; }
	[[nodiscard]] size_t bss_capacity() const { return bss_.capacity(); }

private:
	enum class Action { start_list, request_channel, advance };

	void on_timer();
	void start_list();
	bool start_on(const zev_wifi_iface &iface);
	int request_channel();
	void advance();
	void send_reports();
	void arm(Action a, int ms);
	void on_readable();
	static void chan_stats_event(const char *ifname, const zev_wifi_chan_stats *ev, void *user) noexcept;
	static void bss_event(const char *ifname, const zev_wifi_bss_list *ev, void *user) noexcept;
	void take_stats(const zev_wifi_chan_stats &ev);
	void take_bss(const zev_wifi_bss_list &ev);

	const Config &cfg_;
	Publisher &publisher_;
	std::string device_id_;
	ScanTimings timings_;
	std::string ifname_;
	ChannelList slots_;
	size_t channel_index_ = 0;
	// BSS events are taken for this channel only: the one being scanned, and
	// during the pause after it, so that events that trail its statistics count.
	uint32_t bss_channel_ = 0;
	BssList bss_;
	Action action_ = Action::start_list;
	wlc::Timer timer_{[this] { on_timer(); }};
	int fd_ = -1;
	std::unique_ptr<wlc::FdWatch> watch_;
};

} // namespace rrm
