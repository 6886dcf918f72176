// How often the client library reads its socket: every message the socket
// holds at once is taken by one read, with no read after it only to learn
// that the socket is empty. Counted by standing in for recvmsg in this
// program (the library's calls of it come here).
#include <wlc/c/ubox.h>
#include <wlc/c/ubus.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#include "harness.h"
#include "standin_daemon.h"

namespace {

std::atomic<int> g_counted_fd{-1};
std::atomic<int> g_reads{0};

} // namespace

extern "C" ssize_t recvmsg(int fd, msghdr *msg, int flags)
{
	if (fd == g_counted_fd.load())
		g_reads++;
	return syscall(SYS_recvmsg, fd, msg, flags);
}

namespace {

using wlctest::Bytes;
using wlctest::StandInDaemon;

constexpr uint32_t kObject = 0x55667788;

class BusReadCount : public ::testing::Test {
protected:
	// The stand-in answers the first `calls` calls with one write, once all
	// have arrived; the test then completes them while counting reads.
	void serve(int calls)
	{
		daemon_ = std::make_unique<StandInDaemon>(root_.at("/bus.sock"), 0x01020304, [this, calls](int cl) {
			Bytes out;
			for (int i = 0; i < calls; i++) {
				wlctest::WireMsg m = StandInDaemon::read_msg(cl);
				for (const Bytes &b : {wlctest::data_reply(m.seq, kObject, "x"), wlctest::status_reply(m.seq, kObject, 0)})
					out.insert(out.end(), b.begin(), b.end());
			}
			StandInDaemon::write_once(cl, out);
			written_ = true;
		});
		ctx_ = ubus_connect(root_.at("/bus.sock").c_str());
		ASSERT_NE(ctx_, nullptr);
		blob_buf_init(&b_, 0);
	}
	void TearDown() override
	{
		g_counted_fd = -1;
		blob_buf_free(&b_);
		if (ctx_)
			ubus_free(ctx_);
		daemon_.reset();
	}

	wlctest::TempRoot root_;
	std::unique_ptr<StandInDaemon> daemon_;
	std::atomic<bool> written_{false};
	ubus_context *ctx_ = nullptr;
	blob_buf b_ = {};
};

TEST_F(BusReadCount, ReplyAndStatusInOneWriteTakeOneRead)
{
	serve(1);
	ubus_request req;
	ASSERT_EQ(ubus_invoke_async(ctx_, kObject, "get", b_.head, &req), 0);
	ASSERT_TRUE(wlctest::wait_until([&] { return written_.load(); }, std::chrono::seconds(10)));
	g_reads = 0;
	g_counted_fd = ctx_->sock.fd;
	EXPECT_EQ(ubus_complete_request(ctx_, &req, 10000), UBUS_STATUS_OK);
	EXPECT_EQ(g_reads.load(), 1);
}

TEST_F(BusReadCount, RepliesToManyCallsInOneWriteTakeOneRead)
{
	constexpr int kCalls = 20;
	serve(kCalls);
	std::vector<ubus_request> reqs(kCalls);
	for (ubus_request &r : reqs) {
		ASSERT_EQ(ubus_invoke_async(ctx_, kObject, "get", b_.head, &r), 0);
		ubus_complete_request_async(ctx_, &r);
	}
	ASSERT_TRUE(wlctest::wait_until([&] { return written_.load(); }, std::chrono::seconds(10)));
	g_reads = 0;
	g_counted_fd = ctx_->sock.fd;
	// Reading for the socket's event handles every reply.
	ubus_handle_event(ctx_);
	for (const ubus_request &r : reqs) {
		EXPECT_TRUE(r.status_msg);
		EXPECT_EQ(r.status_code, UBUS_STATUS_OK);
	}
	EXPECT_EQ(g_reads.load(), 1);
}

} // namespace

namespace {

// Through the bus daemon to a serving client: the server's reply and status
// leave it in one write, the daemon passes them on in one write, and the
// caller takes both with one read.
TEST(BusReadCountThroughDaemon, CallAnsweredWithOneRead)
{
	wlctest::TempRoot root;
	wlctest::BusDaemon bus(root);
	wlctest::Process server({wlctest::program("bus_test_server"), "-s", bus.socket()});
	ubus_context *ctx = ubus_connect(bus.socket().c_str());
	ASSERT_NE(ctx, nullptr);
	uint32_t id = 0;
	ASSERT_TRUE(wlctest::wait_until([&] { return ubus_lookup_id(ctx, "svc", &id) == 0; }, std::chrono::seconds(10)));
	blob_buf b = {};
	blob_buf_init(&b, 0);
	blobmsg_add_string(&b, "payload", "0123456789abcdef");
	int answered = 0;
	auto count = [](ubus_request *req, int, blob_attr *) { ++*static_cast<int *>(req->priv); };
	for (int i = 0; i < 20; i++) {
		g_reads = 0;
		g_counted_fd = ctx->sock.fd;
		ASSERT_EQ(ubus_invoke(ctx, id, "echo", b.head, count, &answered, 5000), 0);
		g_counted_fd = -1;
		EXPECT_EQ(g_reads.load(), 1) << "call " << i;
	}
	EXPECT_EQ(answered, 20);
	blob_buf_free(&b);
	ubus_free(ctx);
}

} // namespace
