// The event loop: timers, descriptors, child processes, signals and the
// time-limited run.
#include <wlc/c/ubox.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

class Loop : public ::testing::Test {
protected:
	void SetUp() override { ASSERT_EQ(uloop_init(), 0); }
	void TearDown() override { uloop_done(); }
};

struct Tick {
	uloop_timeout t = {};
	std::vector<int> *order = nullptr;
	int id = 0;
};

void record(uloop_timeout *t)
{
	Tick *tick = container_of(t, Tick, t);
	tick->order->push_back(tick->id);
}

TEST_F(Loop, TimersFireInDeadlineOrderAndCanBeCancelled)
{
	std::vector<int> order;
	Tick a{{}, &order, 1}, b{{}, &order, 2}, c{{}, &order, 3};
	for (Tick *t : {&a, &b, &c})
		t->t.cb = record;
	uloop_timeout_set(&a.t, 30);
	uloop_timeout_set(&b.t, 10);
	uloop_timeout_set(&c.t, 20);
	EXPECT_TRUE(c.t.pending);
	EXPECT_EQ(uloop_timeout_cancel(&c.t), 0);
	EXPECT_EQ(uloop_timeout_cancel(&c.t), -1);
	EXPECT_EQ(uloop_timeout_remaining64(&c.t), -1);
	int64_t left = uloop_timeout_remaining64(&a.t);
	EXPECT_GT(left, 20);
	EXPECT_LE(left, 30);
	uloop_run_timeout(100);
	EXPECT_EQ(order, (std::vector<int>{2, 1}));
}

TEST_F(Loop, RunWithTimeLimitReturnsAfterIt)
{
	auto start = Clock::now();
	uloop_run_timeout(50);
	auto took = Clock::now() - start;
	EXPECT_GE(took, std::chrono::milliseconds(45));
	EXPECT_LT(took, std::chrono::milliseconds(1000));
}

TEST_F(Loop, EndFromACallbackStopsTheLoop)
{
	uloop_timeout stop = {};
	stop.cb = [](uloop_timeout *) { uloop_end(); };
	uloop_timeout later = {};
	later.cb = [](uloop_timeout *) { FAIL() << "loop went on after uloop_end"; };
	uloop_timeout_set(&stop, 5);
	uloop_timeout_set(&later, 200);
	auto start = Clock::now();
	uloop_run();
	EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(150));
	uloop_timeout_cancel(&later);
}

struct Reader {
	uloop_fd fd = {};
	std::string got;
	bool eof = false;
};

TEST_F(Loop, DescriptorWatchDeliversDataAndEnd)
{
	int p[2];
	ASSERT_EQ(pipe(p), 0);
	Reader r;
	r.fd.fd = p[0];
	r.fd.cb = [](uloop_fd *fd, unsigned int events) {
		Reader *self = container_of(fd, Reader, fd);
		ASSERT_TRUE(events & ULOOP_READ);
		char buf[64];
		ssize_t n;
		while ((n = read(fd->fd, buf, sizeof(buf))) > 0)
			self->got.append(buf, static_cast<size_t>(n));
		if (n == 0) {
			self->eof = true;
			uloop_fd_delete(fd);
			uloop_end();
		}
	};
	ASSERT_EQ(uloop_fd_add(&r.fd, ULOOP_READ), 0);
	EXPECT_TRUE(r.fd.registered);
	ASSERT_EQ(write(p[1], "ping", 4), 4);
	close(p[1]);
	uloop_run_timeout(1000);
	EXPECT_EQ(r.got, "ping");
	EXPECT_TRUE(r.eof);
	EXPECT_FALSE(r.fd.registered);
	close(p[0]);
}

struct Child {
	uloop_process p = {};
	int status = -1;
};

TEST_F(Loop, ProcessWatchGetsTheExitStatus)
{
	Child c;
	c.p.cb = [](uloop_process *p, int status) {
		container_of(p, Child, p)->status = status;
		uloop_end();
	};
	pid_t pid = fork();
	if (pid == 0)
		_exit(7);
	c.p.pid = pid;
	ASSERT_EQ(uloop_process_add(&c.p), 0);
	uloop_run_timeout(2000);
	ASSERT_TRUE(WIFEXITED(c.status));
	EXPECT_EQ(WEXITSTATUS(c.status), 7);
	EXPECT_FALSE(c.p.pending);
}

TEST_F(Loop, TerminationSignalEndsTheRunWithItsNumber)
{
	uloop_timeout raise_term = {};
	raise_term.cb = [](uloop_timeout *) { kill(getpid(), SIGTERM); };
	uloop_timeout_set(&raise_term, 5);
	EXPECT_EQ(uloop_run_timeout(2000), SIGTERM);
	EXPECT_TRUE(uloop_cancelled);
}

TEST_F(Loop, WatchDeletedByAnotherCallbackIsNotCalled)
{
	// Two readable pipes: whichever runs first removes the other.
	int a[2], b[2];
	ASSERT_EQ(pipe(a), 0);
	ASSERT_EQ(pipe(b), 0);
	static uloop_fd fa, fb;
	static int calls;
	calls = 0;
	fa = {};
	fb = {};
	fa.fd = a[0];
	fb.fd = b[0];
	fa.cb = [](uloop_fd *, unsigned int) { calls++; uloop_fd_delete(&fb); uloop_fd_delete(&fa); };
	fb.cb = [](uloop_fd *, unsigned int) { calls++; uloop_fd_delete(&fa); uloop_fd_delete(&fb); };
	uloop_fd_add(&fa, ULOOP_READ);
	uloop_fd_add(&fb, ULOOP_READ);
	ASSERT_EQ(write(a[1], "x", 1), 1);
	ASSERT_EQ(write(b[1], "x", 1), 1);
	uloop_run_timeout(50);
	EXPECT_EQ(calls, 1);
	for (int fd : {a[0], a[1], b[0], b[1]})
		close(fd);
}

} // namespace

namespace {

TEST_F(Loop, SignalBeforeTheRunStillEndsIt)
{
	kill(getpid(), SIGTERM); // handlers are in place since uloop_init
	auto start = Clock::now();
	EXPECT_EQ(uloop_run_timeout(2000), SIGTERM);
	EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
	// The next run is not ended by the old signal.
	start = Clock::now();
	EXPECT_EQ(uloop_run_timeout(50), 0);
	EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(45));
}

} // namespace
