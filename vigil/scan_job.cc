// Running a scan job.
#include "scan_job.h"

#include <zev/util.h>

#include <cstring>

namespace vigil {

ScanJob::ScanJob(Settings settings, Done done)
	: settings_(std::move(settings)), done_(std::move(done)), timer_([this] { finish(true); })
{
	if (settings_.channels.size() > kMaxChannels)
		settings_.channels.resize(kMaxChannels);
	surveys_.reserve(settings_.channels.size());
	bss_.reserve(2 * settings_.channels.size());
}

ScanJob::~ScanJob()
{
	stop();
}

bool ScanJob::start()
{
	if (settings_.channels.empty())
		return false;
	int ret = zev_wifi_iface_iter(visit, this);
	return ret == 0 && started_;
}

int ScanJob::visit(const zev_wifi_iface *iface, void *user) noexcept
{
	auto *job = static_cast<ScanJob *>(user);
	if (iface->radio != job->settings_.radio)
		return 0;
	char state[128];
	if (zev_net_iface_sys_param(iface->ifname, "operstate", state, sizeof(state)) != 0 ||
	    std::strcmp(state, "up") != 0)
		return 0;
	try {
		return job->begin_on(iface->ifname) ? 1 : -1;
	} catch (...) {
		return -1;
	}
}

// The subscription comes first: the first channel's events may follow the
// request at once and must not be missed.
bool ScanJob::begin_on(const char *ifname)
{
	ifname_ = ifname;
	events_fd_ = zev_wifi_subscribe();
	if (events_fd_ < 0)
		return false;
	watch_ = std::make_unique<wlc::FdWatch>(events_fd_, [this](unsigned int) { readable(); });
	if (!watch_->start(ULOOP_READ) || !send_request()) {
		stop();
		return false;
	}
	timer_.set(settings_.timeout_ms);
	started_ = true;
	return true;
}

bool ScanJob::send_request()
{
	zev_wifi_scan_req req = {};
	req.mode = settings_.type;
	req.duration = settings_.interval;
	req.channel = settings_.channels[position_];
	return zev_wifi_iface_scan_req(ifname_.c_str(), &req) == 0;
}

void ScanJob::readable()
{
	// A subscription that has gone away brings nothing more: the time limit ends the job.
	if (watch_ && (watch_->eof() || watch_->error())) {
		watch_->stop();
		return;
	}
	zev_wifi_event_cb cb = {};
	cb.on_chan_stats = on_chan_stats;
	cb.on_bss = on_bss;
	cb.user_data = this;
	zev_wifi_event_process(events_fd_, &cb);
	// Finishing closes the socket: never from inside the event walk.
	if (last_channel_done_)
		finish(false);
}

void ScanJob::on_chan_stats(const char *ifname, const zev_wifi_chan_stats *ev, void *user) noexcept
{
	auto *job = static_cast<ScanJob *>(user);
	// Only this job's interface and the channel it waits for: another scan
	// on the device (another job, the RRM agent) must not feed this one.
	if (job->last_channel_done_ || job->ifname_ != ifname ||
	    static_cast<int>(ev->channel) != job->settings_.channels[job->position_])
		return;
	try {
		job->surveys_.push_back(*ev);
	} catch (...) {
		// A record that cannot be stored is dropped; the scan goes on.
	}
	job->position_++;
	if (job->position_ >= job->settings_.channels.size() || !job->send_request())
		job->last_channel_done_ = true;
}

void ScanJob::on_bss(const char *ifname, const zev_wifi_bss_list *ev, void *user) noexcept
{
	auto *job = static_cast<ScanJob *>(user);
	if (job->last_channel_done_ || job->ifname_ != ifname)
		return;
	uint32_t n = ev->count < ZEV_WIFI_BSS_MAX ? ev->count : ZEV_WIFI_BSS_MAX;
	try {
		job->bss_.insert(job->bss_.end(), ev->bss, ev->bss + n);
	} catch (...) {
		// As above: dropped.
	}
}

void ScanJob::stop()
{
	timer_.cancel();
	if (watch_)
		watch_->stop();
	watch_.reset();
	if (events_fd_ >= 0)
		zev_wifi_unsubscribe(events_fd_);
	events_fd_ = -1;
}

void ScanJob::finish(bool timed_out)
{
	if (finished_)
		return;
	finished_ = true;
	stop();
	if (done_)
		done_(*this, timed_out);
}

} // namespace vigil
