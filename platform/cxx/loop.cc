// Trampolines from the event loop's C callbacks to the C++ handlers.
#include <wlc/loop.h>

#include <unistd.h>

namespace wlc {

void Timer::fire(uloop_timeout *t) noexcept
{
	Timer *self = LoopSlot<uloop_timeout, Timer>::from(t);
	if (self->cb_)
		self->cb_();
}

void UniqueFd::reset(int fd)
{
	if (fd_ >= 0)
		close(fd_);
	fd_ = fd;
}

void FdWatch::ready(uloop_fd *fd, unsigned int events) noexcept
{
	FdWatch *self = LoopSlot<uloop_fd, FdWatch>::from(fd);
	if (self->cb_)
		self->cb_(events);
}

void ProcessWatch::ended(uloop_process *p, int status) noexcept
{
	ProcessWatch *self = LoopSlot<uloop_process, ProcessWatch>::from(p);
	if (self->cb_)
		self->cb_(status);
}

} // namespace wlc
