// The log stream.
#include "log_stream.h"

#include <wlc/log.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace mast {

namespace {

constexpr int kRestartMs = 1000;

} // namespace

LogStream::LogStream(wlc::Bus &bus, MqttInstance &inst, const std::string &own_id)
	: bus_(bus), inst_(inst), topic_("zev/wlc/telemetry/ap/" + own_id + "/log"), restart_([this] { start(); })
{
	req_.owner = this;
}

LogStream::~LogStream()
{
	stop();
}

void LogStream::stop()
{
	restart_.cancel();
	if (pending_)
		ubus_abort_request(bus_.ctx(), &req_.raw);
	pending_ = false;
	watch_.reset();
	retired_.reset();
	fd_.reset();
	frames_.clear();
}

int LogStream::start()
{
	stop();
	uint32_t id = 0;
	int ret = ubus_lookup_id(bus_.ctx(), "log", &id);
	if (ret != 0) {
		wlc::logf(LOG_ERR, "Failed to find ubus log object: %s\n", ubus_strerror(ret));
		return -1;
	}
	wlc::BlobBuf msg;
	msg.add_bool("stream", true);
	msg.add_bool("oneshot", false);
	msg.add_u32("lines", 0);
	req_.raw = {};
	if (ubus_invoke_async(bus_.ctx(), id, "read", msg.head(), &req_.raw) != 0)
		return -1;
	req_.raw.fd_cb = &LogStream::on_fd;
	req_.raw.complete_cb = &LogStream::on_done;
	pending_ = true;
	ubus_complete_request_async(bus_.ctx(), &req_.raw);
	return 0;
}

void LogStream::on_fd(ubus_request *req, int fd) noexcept
{
	reinterpret_cast<Slot *>(req)->owner->attach(fd);
}

void LogStream::on_done(ubus_request *req, int) noexcept
{
	reinterpret_cast<Slot *>(req)->owner->pending_ = false;
}

void LogStream::attach(int fd)
{
	watch_.reset();
	fd_.reset(fd);
	frames_.clear();
	fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
	watch_ = std::make_unique<wlc::FdWatch>(fd, [this](unsigned) { readable(); });
	watch_->start(ULOOP_READ);
}

void LogStream::readable()
{
	char chunk[4096];
	for (;;) {
		ssize_t n = read(fd_.get(), chunk, sizeof(chunk));
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0 && errno == EAGAIN)
			return;
		if (n <= 0) {
			broken("closed");
			return;
		}
		bool whole = frames_.feed(chunk, static_cast<size_t>(n), [this](const char *entry, size_t len) {
			(void)inst_.publish(topic_, entry, len, 0, false);
			published_++;
		});
		if (!whole) {
			broken("bad entry length");
			return;
		}
	}
}

// A stream that cannot be read on is closed and asked for anew, after a
// pause so that a failing service is not hammered.
void LogStream::broken(const char *why)
{
	wlc::logf(LOG_WARNING, "Log stream %s, restarting it", why);
	// This runs inside the watch's own callback: it is freed on the restart.
	watch_->stop();
	retired_ = std::move(watch_);
	fd_.reset();
	frames_.clear();
	restart_.set(kRestartMs);
}

} // namespace mast
