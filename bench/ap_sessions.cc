// Per-AP MQTT sessions on one thread.
#include "ap_sessions.h"

#include <mosquitto.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace bench {

namespace {

struct Owner {
	ApSessions *self;
	size_t ap;
};

} // namespace

ApSessions::ApSessions(const std::vector<std::string> &ids, int port, const std::string &filter, OnMessage on_message)
	: on_message_(std::move(on_message)), filter_(filter), ids_(ids), wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
	for (size_t i = 0; i < ids.size(); i++) {
		mosquitto *m = mosquitto_new(ids[i].c_str(), true, new Owner{this, i});
		mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
		mosquitto_username_pw_set(m, ids[i].c_str(), nullptr);
		mosquitto_connect_callback_set(m, [](mosquitto *mq, void *o, int rc) {
			auto *owner = static_cast<Owner *>(o);
			if (rc != 0)
				return;
			owner->self->connected_++;
			const std::string &f = owner->self->filter_;
			if (f.empty())
				return;
			std::string topic = f;
			size_t at = topic.find("%s");
			if (at != std::string::npos)
				topic.replace(at, 2, owner->self->ids_[owner->ap]);
			mosquitto_subscribe(mq, nullptr, topic.c_str(), 2);
		});
		mosquitto_subscribe_callback_set(m, [](mosquitto *, void *o, int, int, const int *) {
			static_cast<Owner *>(o)->self->subscribed_++;
		});
		mosquitto_message_callback_set(m, [](mosquitto *, void *o, const mosquitto_message *msg) {
			auto *owner = static_cast<Owner *>(o);
			if (owner->self->on_message_)
				owner->self->on_message_(owner->ap, msg);
		});
		// The broker may still be starting.
		int rc = MOSQ_ERR_UNKNOWN;
		for (int attempt = 0; attempt < 100 && rc != MOSQ_ERR_SUCCESS; attempt++)
			if ((rc = mosquitto_connect(m, "127.0.0.1", port, 600)) != MOSQ_ERR_SUCCESS)
				usleep(50000);
		if (rc != MOSQ_ERR_SUCCESS)
			std::fprintf(stderr, "session %s: connect failed: %s (%s)\n", ids[i].c_str(), mosquitto_strerror(rc), std::strerror(errno));
		sessions_.push_back(m);
	}
	thread_ = std::thread([this] { run(); });
}

ApSessions::~ApSessions()
{
	stop_ = true;
	uint64_t one = 1;
	(void)!write(wake_, &one, sizeof one);
	thread_.join();
	for (mosquitto *m : sessions_) {
		delete static_cast<Owner *>(mosquitto_userdata(m));
		mosquitto_destroy(m);
	}
	close(wake_);
}

bool ApSessions::ready(std::chrono::seconds limit)
{
	auto end = std::chrono::steady_clock::now() + limit;
	size_t want = sessions_.size();
	while (connected_ < want || (!filter_.empty() && subscribed_ < want)) {
		if (std::chrono::steady_clock::now() > end) {
			std::fprintf(stderr, "AP sessions: %zu of %zu connected, %zu subscribed\n", connected_.load(), want,
				     subscribed_.load());
			return false;
		}
		usleep(10000);
	}
	return true;
}

void ApSessions::post(size_t ap, const std::string &topic, const Bytes &payload, int qos, bool retain)
{
	{
		std::lock_guard<std::mutex> lock(mu_);
		jobs_.push_back({ap, topic, payload, qos, retain});
	}
	uint64_t one = 1;
	(void)!write(wake_, &one, sizeof one);
}

void ApSessions::drain()
{
	uint64_t n;
	(void)!read(wake_, &n, sizeof n);
	std::deque<Job> jobs;
	{
		std::lock_guard<std::mutex> lock(mu_);
		jobs.swap(jobs_);
	}
	for (const Job &j : jobs) {
		mosquitto *m = sessions_[j.ap];
		mosquitto_publish(m, nullptr, j.topic.c_str(), static_cast<int>(j.payload.size()), j.payload.data(), j.qos,
				  j.retain);
		if (mosquitto_want_write(m))
			pending_.push_back(j.ap);
	}
}

void ApSessions::flush_pending()
{
	std::vector<size_t> still;
	for (size_t ap : pending_) {
		mosquitto_loop_write(sessions_[ap], 1);
		if (mosquitto_want_write(sessions_[ap]))
			still.push_back(ap);
	}
	std::sort(still.begin(), still.end());
	still.erase(std::unique(still.begin(), still.end()), still.end());
	pending_.swap(still);
}

// Every session's socket and the wake-up in one poll; keepalives once a second.
void ApSessions::run()
{
	std::vector<pollfd> fds(sessions_.size() + 1);
	auto misc_at = std::chrono::steady_clock::now();
	while (!stop_) {
		for (size_t i = 0; i < sessions_.size(); i++)
			fds[i] = {mosquitto_socket(sessions_[i]), POLLIN, 0};
		fds.back() = {wake_, POLLIN, 0};
		for (size_t ap : pending_)
			fds[ap].events |= POLLOUT;
		if (poll(fds.data(), fds.size(), 100) < 0)
			continue;
		if (fds.back().revents & POLLIN)
			drain();
		for (size_t i = 0; i < sessions_.size(); i++) {
			if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
				mosquitto_loop_read(sessions_[i], 1);
				if (mosquitto_want_write(sessions_[i]))
					pending_.push_back(i);
			}
		}
		flush_pending();
		if (std::chrono::steady_clock::now() >= misc_at) {
			for (mosquitto *m : sessions_)
				mosquitto_loop_misc(m);
			misc_at = std::chrono::steady_clock::now() + std::chrono::seconds(1);
		}
	}
}

} // namespace bench
