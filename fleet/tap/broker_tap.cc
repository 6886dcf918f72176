// The broker tap on the event loop.
#include "broker_tap.h"

#include <mosquitto.h>

#include <wlc/log.h>

#include <exception>

namespace fleet {

namespace {

constexpr int kHousekeepingMs = 1000;
constexpr int kKeepaliveS = 30;

void init_library()
{
	static bool done = false;
	if (!done)
		mosquitto_lib_init();
	done = true;
}

} // namespace

void BrokerTap::Destroy::operator()(mosquitto *m) const noexcept
{
	mosquitto_destroy(m);
}

std::unique_ptr<BrokerTap> BrokerTap::create(const TapSettings &settings, Sink sink)
{
	std::unique_ptr<BrokerTap> tap(new BrokerTap(settings, std::move(sink)));
	if (!tap->setup()) {
		wlc::logf(LOG_ERR, "Failed to set up the broker tap");
		return nullptr;
	}
	tap->start();
	return tap;
}

BrokerTap::BrokerTap(const TapSettings &settings, Sink sink)
	: settings_(settings), sink_(std::move(sink)), housekeeping_timer_([this] { housekeeping(); })
{
}

BrokerTap::~BrokerTap()
{
	housekeeping_timer_.cancel();
	stop_watch();
	if (client_)
		mosquitto_disconnect(client_.get());
}

bool BrokerTap::setup()
{
	init_library();
	client_.reset(mosquitto_new(settings_.client_id.c_str(), true, this));
	if (!client_)
		return false;
	mosquitto_connect_callback_set(client_.get(), &BrokerTap::on_connect);
	mosquitto_disconnect_callback_set(client_.get(), &BrokerTap::on_disconnect);
	mosquitto_message_callback_set(client_.get(), &BrokerTap::on_message);
	return settings_.username.empty() || mosquitto_username_pw_set(client_.get(), settings_.username.c_str(),
								       settings_.password.c_str()) == MOSQ_ERR_SUCCESS;
}

// A broker that is not up yet is no failure: housekeeping tries again.
void BrokerTap::start()
{
	int rc = mosquitto_connect_async(client_.get(), settings_.host.c_str(), settings_.port, kKeepaliveS);
	if (rc != MOSQ_ERR_SUCCESS && !down_logged_) {
		wlc::logf(LOG_WARNING, "Broker tap cannot reach %s:%d: %s", settings_.host.c_str(), settings_.port,
			  mosquitto_strerror(rc));
		down_logged_ = true;
	}
	watch_socket();
	housekeeping_timer_.set(kHousekeepingMs);
}

void BrokerTap::housekeeping()
{
	housekeeping_timer_.set(kHousekeepingMs);
	if (mosquitto_loop_misc(client_.get()) != MOSQ_ERR_NO_CONN) {
		watch_socket();
		return;
	}
	stop_watch();
	int rc = mosquitto_reconnect_async(client_.get());
	if (rc != MOSQ_ERR_SUCCESS && !down_logged_) {
		wlc::logf(LOG_WARNING, "Broker tap cannot reach %s:%d: %s", settings_.host.c_str(), settings_.port,
			  mosquitto_strerror(rc));
		down_logged_ = true;
	}
	watch_socket();
}

// Read interest always, write interest while the library has output queued.
void BrokerTap::watch_socket()
{
	int fd = mosquitto_socket(client_.get());
	if (fd < 0) {
		stop_watch();
		return;
	}
	// A new socket (never while its old watch is calling back: sockets
	// change only on housekeeping's reconnection).
	if (!watch_ || watch_->fd() != fd) {
		stop_watch();
		watch_ = std::make_unique<wlc::FdWatch>(fd, [this](unsigned int events) { socket_ready(events); });
	}
	unsigned int flags = ULOOP_READ | (mosquitto_want_write(client_.get()) ? ULOOP_WRITE : 0);
	if (flags != watch_flags_ || !watch_->registered()) {
		watch_->start(flags);
		watch_flags_ = flags;
	}
}

void BrokerTap::stop_watch()
{
	if (watch_)
		watch_->stop();
	watch_flags_ = 0;
}

void BrokerTap::socket_ready(unsigned int events)
{
	mosquitto *m = client_.get();
	if ((events & ULOOP_READ) || watch_->eof() || watch_->error())
		mosquitto_loop_read(m, 1);
	if (mosquitto_socket(m) >= 0 && mosquitto_want_write(m))
		mosquitto_loop_write(m, 1);
	if (mosquitto_socket(m) >= 0)
		mosquitto_loop_misc(m);
	watch_socket();
}

void BrokerTap::on_connect(mosquitto *m, void *self, int rc) noexcept
{
	auto *tap = static_cast<BrokerTap *>(self);
	if (rc != 0) {
		wlc::logf(LOG_WARNING, "Broker tap refused by %s:%d: %s", tap->settings_.host.c_str(),
			  tap->settings_.port, mosquitto_connack_string(rc));
		return;
	}
	tap->connected_ = true;
	tap->down_logged_ = false;
	wlc::logf(LOG_NOTICE, "Broker tap connected to %s:%d", tap->settings_.host.c_str(), tap->settings_.port);
	for (const auto &[filter, qos] : tap->settings_.filters)
		if (mosquitto_subscribe(m, nullptr, filter.c_str(), qos) != MOSQ_ERR_SUCCESS)
			wlc::logf(LOG_WARNING, "Broker tap cannot subscribe to %s", filter.c_str());
}

void BrokerTap::on_disconnect(mosquitto *, void *self, int) noexcept
{
	auto *tap = static_cast<BrokerTap *>(self);
	if (tap->connected_)
		wlc::logf(LOG_WARNING, "Broker tap lost %s:%d", tap->settings_.host.c_str(), tap->settings_.port);
	tap->connected_ = false;
}

// A sink that runs out of memory drops its message; nothing unwinds
// through the library.
void BrokerTap::on_message(mosquitto *, void *self, const mosquitto_message *msg) noexcept
{
	auto *tap = static_cast<BrokerTap *>(self);
	if (!msg || !msg->topic || msg->payloadlen < 0)
		return;
	try {
		tap->sink_(msg->topic, msg->payload, static_cast<size_t>(msg->payloadlen));
	} catch (const std::exception &e) {
		wlc::logf(LOG_WARNING, "Broker tap dropped a message on %s: %s", msg->topic, e.what());
	}
}

} // namespace fleet
