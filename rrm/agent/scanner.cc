// The scan cycle.
#include "scanner.h"

#include <wlc/log.h>

#include <new>

#include "radio.h"

namespace rrm {

Scanner::Scanner(const Config &cfg, Publisher &publisher, std::string device_id)
	: cfg_(cfg), publisher_(publisher), device_id_(std::move(device_id))
{
	timings_ = {cfg.scan_interval, cfg.scan_gap * 1000, cfg.scan_relax * 1000, 0};
	for (int ch : cfg.channels)
		slots_.push_back({0, 0, static_cast<uint32_t>(ch), 0, 0, 0, 0, 0, 0});
}

Scanner::~Scanner()
{
	watch_.reset();
	if (fd_ >= 0)
		zev_wifi_unsubscribe(fd_);
}

void Scanner::arm(Action a, int ms)
{
	action_ = a;
	timer_.set(ms);
}

void Scanner::on_timer()
{
	try {
		switch (action_) {
		case Action::start_list:
			start_list();
			break;
		case Action::request_channel:
			request_channel(); // a refused request is passed by the watchdog
			break;
		case Action::advance:
			advance();
			break;
		}
	} catch (const std::exception &e) {
		wlc::logf(LOG_ERR, "scan cycle failed: %s", e.what());
		end_cycle();
	}
}

void Scanner::end_cycle()
{
	watch_.reset();
	if (fd_ >= 0)
		zev_wifi_unsubscribe(fd_);
	fd_ = -1;
	timer_.cancel();
	bss_channel_ = 0;
	if (bss_.capacity() > 4 * slots_.size())
		BssList().swap(bss_);
	wlc::logf(LOG_DEBUG, "sleep for %d seconds before next list scan...", timings_.relax / 1000);
	arm(Action::start_list, timings_.relax);
}

void Scanner::start_list()
{
	ifname_.clear();
	channel_index_ = 0;
	for (zev_wifi_chan_stats &s : slots_)
		s.interval = 0;
	bss_.clear();
	try {
		bss_.reserve(2 * slots_.size());
	} catch (const std::bad_alloc &) {
		wlc::logf(LOG_ERR, "failed to start scanning channel list: not enough memory");
		end_cycle();
		return;
	}
	wlc::logf(LOG_DEBUG, "start scanning channel list");
	std::vector<zev_wifi_iface> up = up_interfaces(cfg_.radio);
	if (up.empty() || !start_on(up.front())) {
		wlc::logf(LOG_ERR, "failed to start scanning channel list: %s",
			  up.empty() ? "missing radio interface" : "unexpected error");
		end_cycle();
	}
}

bool Scanner::start_on(const zev_wifi_iface &iface)
{
	ifname_ = iface.ifname;
	fd_ = zev_wifi_subscribe();
	if (fd_ < 0)
		return false;
	watch_ = std::make_unique<wlc::FdWatch>(fd_, [this](unsigned int) { on_readable(); });
	watch_->start(ULOOP_READ);
	return request_channel() >= 0;
}

int Scanner::request_channel()
{
	const zev_wifi_chan_stats &slot = slots_[channel_index_];
	wlc::logf(LOG_DEBUG, "request scan channel %u on %s", slot.channel, ifname_.c_str());
	arm(Action::advance, timings_.dwell + timings_.gap);
	bss_channel_ = slot.channel;
	zev_wifi_scan_req req{timings_.scan_type, timings_.dwell, static_cast<int32_t>(slot.channel)};
	return zev_wifi_iface_scan_req(ifname_.c_str(), &req);
}

void Scanner::advance()
{
	timer_.cancel();
	channel_index_++;
	if (channel_index_ < slots_.size()) {
		wlc::logf(LOG_DEBUG, "sleep for %d seconds before next channel scan...", timings_.gap / 1000);
		arm(Action::request_channel, timings_.gap);
		return;
	}
	send_reports();
	end_cycle();
}

void Scanner::on_readable()
{
	static const zev_wifi_event_cb table = {nullptr, nullptr, &Scanner::chan_stats_event, &Scanner::bss_event, nullptr};
	zev_wifi_event_cb cb = table;
	cb.user_data = this;
	if (fd_ >= 0)
		zev_wifi_event_process(fd_, &cb);
}

void Scanner::chan_stats_event(const char *ifname, const zev_wifi_chan_stats *ev, void *user) noexcept
{
	auto *self = static_cast<Scanner *>(user);
	try {
		if (ifname && ev && self->ifname_ == ifname)
			self->take_stats(*ev);
	} catch (const std::exception &e) {
		wlc::logf(LOG_ERR, "scan result failed: %s", e.what());
	}
}

void Scanner::bss_event(const char *ifname, const zev_wifi_bss_list *ev, void *user) noexcept
{
	auto *self = static_cast<Scanner *>(user);
	if (ifname && ev && self->ifname_ == ifname)
		self->take_bss(*ev);
}

void Scanner::take_stats(const zev_wifi_chan_stats &ev)
{
	// Only the answer to the request in flight advances the scan.
	if (action_ != Action::advance || !timer_.pending() || ev.channel != slots_[channel_index_].channel)
		return;
	wlc::logf(LOG_DEBUG, "recv scan result for channel %u", ev.channel);
	slots_[channel_index_] = ev;
	// Advanced from the loop, not from inside the event watch that the end
	// of a list releases.
	arm(Action::advance, 0);
}

void Scanner::take_bss(const zev_wifi_bss_list &ev)
{
	if (bss_channel_ == 0)
		return;
	for (uint32_t i = 0; i < ev.count && i < ZEV_WIFI_BSS_MAX; i++) {
		const zev_wifi_bss &b = ev.bss[i];
		if (b.channel != bss_channel_)
			break;
		if (bss_.size() >= max_bss_entries) {
			wlc::logf(LOG_WARNING, "not enough memory for BSS data!");
			return;
		}
		bss_.push_back(b);
		wlc::logf(LOG_DEBUG, "find BSS '%.32s' on channel %d", b.ssid, static_cast<int>(b.channel));
	}
}

void Scanner::send_reports()
{
	wlc::logf(LOG_INFO, "send scan report");
	uint32_t bridge = publisher_.lookup();
	if (!bridge) {
		wlc::logf(LOG_ERR, "failed to send scan report: ubus obj not found");
		return;
	}
	std::string base = "zev/wlc/rrm/" + cfg_.site + "/ap/" + device_id_ + "/" + std::to_string(cfg_.radio) + "/report/";
	if (publisher_.send_to(bridge, base + "channels", [this](wlc::BlobBuf &m) { encode_channels(m, slots_); }) !=
	    SendResult::sent)
		wlc::logf(LOG_ERR, "failed to send channels report");
	if (publisher_.send_to(bridge, base + "bss", [this](wlc::BlobBuf &m) { encode_bss(m, bss_); }) != SendResult::sent)
		wlc::logf(LOG_ERR, "failed to send bss report");
	RadioReport radio = build_radio_report(cfg_.radio);
	if (publisher_.send_to(bridge, base + "radio", [&radio](wlc::BlobBuf &m) { encode_radio(m, radio); }) !=
	    SendResult::sent)
		wlc::logf(LOG_ERR, "failed to send sta report");
}

} // namespace rrm
