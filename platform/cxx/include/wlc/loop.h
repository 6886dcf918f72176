// RAII handles over the event loop: timers, descriptor watches and child
// process watches. Each is move-less (the loop keeps its address), cancels
// itself when destroyed, and calls a std::function from a noexcept trampoline.
#pragma once

#include <wlc/c/ubox.h>

#include <cstdint>
#include <functional>
#include <utility>

namespace wlc {

// A C handle followed by a pointer to its owner: the loop hands back the
// handle's address, which is also the slot's, since the handle comes first.
template <typename Handle, typename Owner>
struct LoopSlot {
	Handle raw = {};
	Owner *owner = nullptr;

	static Owner *from(Handle *h) { return reinterpret_cast<LoopSlot *>(h)->owner; }
};

class Timer {
public:
	explicit Timer(std::function<void()> cb) : cb_(std::move(cb))
	{
		t_.raw.cb = &Timer::fire;
		t_.owner = this;
	}
	~Timer() { cancel(); }
	Timer(const Timer &) = delete;
	Timer &operator=(const Timer &) = delete;

	void set(int ms) { uloop_timeout_set(&t_.raw, ms); }
	void cancel() { uloop_timeout_cancel(&t_.raw); }
	bool pending() const { return t_.raw.pending; }
	// Milliseconds left, -1 when not pending.
	int64_t remaining() { return uloop_timeout_remaining64(&t_.raw); }

private:
	static void fire(uloop_timeout *t) noexcept;

	LoopSlot<uloop_timeout, Timer> t_;
	std::function<void()> cb_;
};

// A descriptor owned by this handle, closed when it goes.
class UniqueFd {
public:
	UniqueFd() = default;
	explicit UniqueFd(int fd) : fd_(fd) {}
	~UniqueFd() { reset(); }
	UniqueFd(UniqueFd &&o) noexcept : fd_(o.release()) {}
	UniqueFd &operator=(UniqueFd &&o) noexcept
	{
		if (this != &o)
			reset(o.release());
		return *this;
	}
	UniqueFd(const UniqueFd &) = delete;
	UniqueFd &operator=(const UniqueFd &) = delete;

	int get() const { return fd_; }
	explicit operator bool() const { return fd_ >= 0; }
	int release() { return std::exchange(fd_, -1); }
	void reset(int fd = -1);

private:
	int fd_ = -1;
};

// Watches a descriptor it does not own.
class FdWatch {
public:
	using Handler = std::function<void(unsigned int events)>;

	FdWatch(int fd, Handler cb) : cb_(std::move(cb))
	{
		fd_.raw.fd = fd;
		fd_.raw.cb = &FdWatch::ready;
		fd_.owner = this;
	}
	~FdWatch() { stop(); }
	FdWatch(const FdWatch &) = delete;
	FdWatch &operator=(const FdWatch &) = delete;

	// flags: ULOOP_READ, ULOOP_WRITE, ULOOP_EDGE_TRIGGER, ULOOP_BLOCKING.
	bool start(unsigned int flags) { return uloop_fd_add(&fd_.raw, flags) == 0; }
	void stop() { uloop_fd_delete(&fd_.raw); }
	bool registered() const { return fd_.raw.registered; }
	bool eof() const { return fd_.raw.eof; }
	bool error() const { return fd_.raw.error; }
	int fd() const { return fd_.raw.fd; }

private:
	static void ready(uloop_fd *fd, unsigned int events) noexcept;

	LoopSlot<uloop_fd, FdWatch> fd_;
	Handler cb_;
};

// Calls back with the wait status when the child ends.
class ProcessWatch {
public:
	explicit ProcessWatch(std::function<void(int status)> cb) : cb_(std::move(cb))
	{
		p_.raw.cb = &ProcessWatch::ended;
		p_.owner = this;
	}
	~ProcessWatch() { stop(); }
	ProcessWatch(const ProcessWatch &) = delete;
	ProcessWatch &operator=(const ProcessWatch &) = delete;

	bool watch(pid_t pid)
	{
		stop();
		p_.raw.pid = pid;
		return uloop_process_add(&p_.raw) == 0;
	}
	void stop() { uloop_process_delete(&p_.raw); }
	bool pending() const { return p_.raw.pending; }
	pid_t pid() const { return p_.raw.pid; }

private:
	static void ended(uloop_process *p, int status) noexcept;

	LoopSlot<uloop_process, ProcessWatch> p_;
	std::function<void(int)> cb_;
};

} // namespace wlc
