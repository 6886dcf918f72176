// The event loop on epoll: descriptor watches, a sorted timer list, child
// reaping and SIGINT/SIGTERM delivered through a self-pipe.
#include <wlc/c/ubox.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
bool uloop_cancelled = false;
bool uloop_handle_sigchld = true;
}

namespace {

constexpr int kMaxEvents = 16;

int poll_fd = -1;
int waker_pipe[2] = {-1, -1};
uloop_fd waker_fd;
LIST_HEAD(timeouts);
LIST_HEAD(processes);
volatile sig_atomic_t pending_signal = 0;
volatile sig_atomic_t pending_sigchld = 0;
int run_depth = 0;
int loop_status = 0;

// Events fetched by the current epoll_wait; a watch deleted while they are
// dispatched is cleared here so that it is not called again.
epoll_event current_events[kMaxEvents];
int current_count = 0;

int64_t now_ms()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int64_t timeval_ms(const timeval &tv)
{
	return static_cast<int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

void wake()
{
	int saved = errno;
	char c = 'w';
	if (waker_pipe[1] >= 0 && write(waker_pipe[1], &c, 1) < 0) {
		// The pipe is full: the loop is already going to wake up.
	}
	errno = saved;
}

void on_stop_signal(int signo)
{
	pending_signal = signo;
	uloop_cancelled = true;
	wake();
}

void on_sigchld(int)
{
	pending_sigchld = 1;
	wake();
}

void drain_waker(uloop_fd *fd, unsigned int)
{
	char buf[64];
	while (read(fd->fd, buf, sizeof(buf)) > 0) {
	}
}

void set_handler(int signo, void (*handler)(int))
{
	struct sigaction sa = {};
	sa.sa_handler = handler;
	sigemptyset(&sa.sa_mask);
	sa.sa_flags = SA_RESTART;
	sigaction(signo, &sa, nullptr);
}

void setup_signals()
{
	set_handler(SIGINT, on_stop_signal);
	set_handler(SIGTERM, on_stop_signal);
	if (uloop_handle_sigchld)
		set_handler(SIGCHLD, on_sigchld);
	set_handler(SIGPIPE, SIG_IGN);
}

void reap_children()
{
	pending_sigchld = 0;
	for (;;) {
		int status;
		pid_t pid = waitpid(-1, &status, WNOHANG);
		if (pid <= 0)
			return;
		uloop_process *p, *tmp;
		list_for_each_entry_safe(p, tmp, &processes, list) {
			if (p->pid < pid)
				continue;
			if (p->pid > pid)
				break;
			uloop_process_delete(p);
			p->cb(p, status);
		}
	}
}

void run_timeouts()
{
	int64_t now = now_ms();
	while (!list_empty(&timeouts)) {
		uloop_timeout *t = list_first_entry(&timeouts, uloop_timeout, list);
		if (timeval_ms(t->time) > now)
			return;
		uloop_timeout_cancel(t);
		if (t->cb)
			t->cb(t);
	}
}

unsigned int epoll_to_uloop(uloop_fd *u, uint32_t events)
{
	unsigned int ev = 0;
	if (events & (EPOLLERR | EPOLLHUP)) {
		u->error = true;
		if (!(u->flags & ULOOP_ERROR_CB))
			uloop_fd_delete(u);
	}
	if (events & (EPOLLRDHUP | EPOLLHUP))
		u->eof = true;
	if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR))
		ev |= ULOOP_READ;
	if (events & EPOLLOUT)
		ev |= ULOOP_WRITE;
	return ev;
}

void dispatch_fds(int timeout)
{
	current_count = epoll_wait(poll_fd, current_events, kMaxEvents, timeout);
	for (int n = 0; n < current_count; n++) {
		auto *u = static_cast<uloop_fd *>(current_events[n].data.ptr);
		if (!u)
			continue;
		unsigned int ev = epoll_to_uloop(u, current_events[n].events);
		current_events[n].data.ptr = nullptr;
		if (ev && u->cb)
			u->cb(u, ev);
		if (uloop_cancelled)
			break;
	}
	current_count = 0;
}

} // namespace

extern "C" {

int uloop_init(void)
{
	if (poll_fd >= 0)
		return 0;
	poll_fd = epoll_create1(EPOLL_CLOEXEC);
	if (poll_fd < 0)
		return -1;
	if (pipe2(waker_pipe, O_NONBLOCK | O_CLOEXEC) < 0) {
		close(poll_fd);
		poll_fd = -1;
		return -1;
	}
	waker_fd = uloop_fd{};
	waker_fd.fd = waker_pipe[0];
	waker_fd.cb = drain_waker;
	uloop_fd_add(&waker_fd, ULOOP_READ);
	setup_signals();
	return 0;
}

void uloop_done(void)
{
	if (poll_fd < 0)
		return;
	uloop_fd_delete(&waker_fd);
	close(poll_fd);
	close(waker_pipe[0]);
	close(waker_pipe[1]);
	poll_fd = waker_pipe[0] = waker_pipe[1] = -1;
	while (!list_empty(&timeouts))
		uloop_timeout_cancel(list_first_entry(&timeouts, uloop_timeout, list));
	while (!list_empty(&processes))
		uloop_process_delete(list_first_entry(&processes, uloop_process, list));
}

int uloop_fd_add(uloop_fd *sock, unsigned int flags)
{
	if (poll_fd < 0 && uloop_init() < 0)
		return -1;
	if (!(flags & (ULOOP_READ | ULOOP_WRITE)))
		return uloop_fd_delete(sock);
	if (!(flags & ULOOP_BLOCKING)) {
		int fl = fcntl(sock->fd, F_GETFL);
		if (fl >= 0)
			fcntl(sock->fd, F_SETFL, fl | O_NONBLOCK);
	}
	epoll_event ev = {};
	if (flags & ULOOP_READ)
		ev.events |= EPOLLIN | EPOLLRDHUP;
	if (flags & ULOOP_WRITE)
		ev.events |= EPOLLOUT;
	if (flags & ULOOP_EDGE_TRIGGER)
		ev.events |= EPOLLET;
	ev.data.ptr = sock;
	int op = sock->registered ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
	if (epoll_ctl(poll_fd, op, sock->fd, &ev) < 0)
		return -1;
	sock->flags = static_cast<uint8_t>(flags);
	sock->registered = true;
	sock->eof = false;
	sock->error = false;
	return 0;
}

int uloop_fd_delete(uloop_fd *sock)
{
	for (int n = 0; n < current_count; n++)
		if (current_events[n].data.ptr == sock)
			current_events[n].data.ptr = nullptr;
	if (!sock->registered)
		return 0;
	sock->registered = false;
	sock->flags = 0;
	return epoll_ctl(poll_fd, EPOLL_CTL_DEL, sock->fd, nullptr);
}

int uloop_timeout_add(uloop_timeout *timeout)
{
	if (timeout->pending)
		return -1;
	uloop_timeout *t;
	list_for_each_entry(t, &timeouts, list)
		if (timeval_ms(t->time) > timeval_ms(timeout->time))
			break;
	list_add_tail(&timeout->list, &t->list);
	timeout->pending = true;
	return 0;
}

int uloop_timeout_set(uloop_timeout *timeout, int msecs)
{
	if (timeout->pending)
		uloop_timeout_cancel(timeout);
	if (msecs < 0)
		msecs = 0;
	int64_t at = now_ms() + msecs;
	timeout->time.tv_sec = static_cast<time_t>(at / 1000);
	timeout->time.tv_usec = static_cast<suseconds_t>((at % 1000) * 1000);
	return uloop_timeout_add(timeout);
}

int uloop_timeout_cancel(uloop_timeout *timeout)
{
	if (!timeout->pending)
		return -1;
	list_del(&timeout->list);
	timeout->pending = false;
	return 0;
}

int64_t uloop_timeout_remaining64(uloop_timeout *timeout)
{
	if (!timeout->pending)
		return -1;
	int64_t left = timeval_ms(timeout->time) - now_ms();
	return left < 0 ? 0 : left;
}

int uloop_timeout_remaining(uloop_timeout *timeout)
{
	int64_t left = uloop_timeout_remaining64(timeout);
	return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

int uloop_get_next_timeout(void)
{
	if (list_empty(&timeouts))
		return -1;
	int64_t left = uloop_timeout_remaining64(list_first_entry(&timeouts, uloop_timeout, list));
	return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

int uloop_process_add(uloop_process *p)
{
	if (p->pending)
		return -1;
	uloop_process *tmp;
	list_for_each_entry(tmp, &processes, list)
		if (tmp->pid > p->pid)
			break;
	list_add_tail(&p->list, &tmp->list);
	p->pending = true;
	// A child that ended before it was watched is reaped on the next pass.
	pending_sigchld = 1;
	wake();
	return 0;
}

int uloop_process_delete(uloop_process *p)
{
	if (!p->pending)
		return -1;
	list_del(&p->list);
	p->pending = false;
	return 0;
}

bool uloop_cancelling(void)
{
	return run_depth > 0 && uloop_cancelled;
}

int uloop_run_timeout(int timeout)
{
	if (poll_fd < 0 && uloop_init() < 0)
		return -1;
	int64_t deadline = timeout >= 0 ? now_ms() + timeout : -1;
	run_depth++;
	loop_status = 0;
	// A stop signal that came before the run (after uloop_init) still ends it.
	uloop_cancelled = pending_signal != 0;
	while (!uloop_cancelled) {
		if (pending_sigchld && uloop_handle_sigchld)
			reap_children();
		run_timeouts();
		if (uloop_cancelled)
			break;
		int wait = uloop_get_next_timeout();
		if (deadline >= 0) {
			int64_t left = deadline - now_ms();
			if (left <= 0)
				break;
			if (wait < 0 || wait > left)
				wait = static_cast<int>(left);
		}
		dispatch_fds(wait);
	}
	if (pending_signal) {
		loop_status = pending_signal;
		pending_signal = 0;
	}
	--run_depth;
	return loop_status;
}

} // extern "C"
