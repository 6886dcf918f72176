// The client library's read path against a stand-in daemon that writes
// replies split anywhere, joined in one write, larger than one read, with a
// descriptor, or cut short for a while; and the bus daemon taking many
// messages from one write.
#include <wlc/c/ubox.h>
#include <wlc/c/ubus.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "harness.h"
#include "standin_daemon.h"

namespace {

using wlctest::Bytes;
using wlctest::StandInDaemon;

constexpr uint32_t kClientId = 0x0a0b0c0d;
constexpr uint32_t kObject = 0x11223344;

struct Got {
	std::vector<std::string> values;
	int fd = -1;
	int status = -1;
	bool done = false;
};

void collect(ubus_request *req, int, blob_attr *msg)
{
	static const blobmsg_policy policy = {"v", BLOBMSG_TYPE_STRING};
	blob_attr *v = nullptr;
	blobmsg_parse(&policy, 1, &v, blob_data(msg), static_cast<unsigned int>(blob_len(msg)));
	static_cast<Got *>(req->priv)->values.push_back(v ? blobmsg_get_string(v) : "<none>");
}

Bytes join(const Bytes &a, const Bytes &b)
{
	Bytes out = a;
	out.insert(out.end(), b.begin(), b.end());
	return out;
}

class BusReads : public ::testing::Test {
protected:
	void start(StandInDaemon::Script script)
	{
		daemon_ = std::make_unique<StandInDaemon>(root_.at("/bus.sock"), kClientId, std::move(script));
		ctx_ = ubus_connect(root_.at("/bus.sock").c_str());
		ASSERT_NE(ctx_, nullptr);
		EXPECT_EQ(ctx_->local_id, kClientId);
		blob_buf_init(&b_, 0);
	}
	void TearDown() override
	{
		blob_buf_free(&b_);
		if (ctx_)
			ubus_free(ctx_);
		daemon_.reset();
	}
	int call(Got &got, int timeout = 10000)
	{
		return ubus_invoke(ctx_, kObject, "get", b_.head, collect, &got, timeout);
	}

	wlctest::TempRoot root_;
	std::unique_ptr<StandInDaemon> daemon_;
	ubus_context *ctx_ = nullptr;
	blob_buf b_ = {};
};

// A reply and its status cut at every kind of place: inside the header,
// right after it, inside the attributes, and across the two messages.
TEST_F(BusReads, MessagesSplitAnywhereAreJoined)
{
	const std::vector<std::vector<size_t>> splits = {
		{1}, {5, 11}, {12}, {13, 20}, {0}, {}, {3, 7, 9, 14, 22, 30, 41},
	};
	start([&](int cl) {
		for (size_t i = 0; i < splits.size(); i++) {
			wlctest::WireMsg m = StandInDaemon::read_msg(cl);
			if (!m.ok)
				return;
			Bytes data = wlctest::data_reply(m.seq, kObject, "reply " + std::to_string(i));
			Bytes both = join(data, wlctest::status_reply(m.seq, kObject, 0));
			std::vector<size_t> cuts = splits[i];
			if (cuts.empty())
				cuts = {data.size() - 1, data.size(), data.size() + 3};
			StandInDaemon::write_in_pieces(cl, both, cuts);
		}
	});
	for (size_t i = 0; i < splits.size(); i++) {
		Got got;
		ASSERT_EQ(call(got), UBUS_STATUS_OK) << "split " << i;
		EXPECT_EQ(got.values, std::vector<std::string>{"reply " + std::to_string(i)}) << "split " << i;
	}
}

// Replies to several calls in one write, and a reply larger than a read
// followed at once by its status and the next call's reply.
TEST_F(BusReads, JoinedAndLargeRepliesKeepTheirOrder)
{
	const std::string large(300000, 'L');
	start([&](int cl) {
		wlctest::WireMsg a = StandInDaemon::read_msg(cl);
		wlctest::WireMsg b = StandInDaemon::read_msg(cl);
		Bytes out = join(wlctest::data_reply(a.seq, kObject, large), wlctest::status_reply(a.seq, kObject, 0));
		out = join(out, wlctest::data_reply(b.seq, kObject, "small"));
		out = join(out, wlctest::status_reply(b.seq, kObject, UBUS_STATUS_NOT_FOUND));
		// One piece ends inside the large reply's attributes.
		StandInDaemon::write_in_pieces(cl, out, {20000});
	});
	ubus_request ra, rb;
	Got ga, gb;
	ASSERT_EQ(ubus_invoke_async(ctx_, kObject, "get", b_.head, &ra), 0);
	ASSERT_EQ(ubus_invoke_async(ctx_, kObject, "get", b_.head, &rb), 0);
	ra.data_cb = rb.data_cb = collect;
	ra.priv = &ga;
	rb.priv = &gb;
	ubus_complete_request_async(ctx_, &rb);
	EXPECT_EQ(ubus_complete_request(ctx_, &ra, 10000), UBUS_STATUS_OK);
	ASSERT_EQ(ga.values.size(), 1u);
	EXPECT_EQ(ga.values[0].size(), large.size());
	EXPECT_EQ(ga.values[0], large);
	// The second reply came in the same bytes: it is handled by now or on the
	// next read.
	if (!rb.status_msg) {
		EXPECT_EQ(ubus_complete_request(ctx_, &rb, 10000), UBUS_STATUS_NOT_FOUND);
	}
	EXPECT_EQ(rb.status_code, UBUS_STATUS_NOT_FOUND);
	EXPECT_EQ(gb.values, std::vector<std::string>{"small"});
}

// A descriptor sent with a status that follows another message in the same
// read belongs to that status, not to the message before it; one sent with
// a header written apart from its attributes (as the platform's daemon
// does) belongs to that message. The client reads only once both writes
// are done, so that one read meets them together.
TEST_F(BusReads, DescriptorStaysWithItsMessage)
{
	auto pipe_with = [](const char *text) {
		int p[2];
		EXPECT_EQ(pipe(p), 0);
		EXPECT_EQ(write(p[1], text, std::strlen(text)), static_cast<ssize_t>(std::strlen(text)));
		close(p[1]);
		return p[0];
	};
	std::atomic<int> written{0};
	start([&](int cl) {
		wlctest::WireMsg a = StandInDaemon::read_msg(cl);
		int fa = pipe_with("first");
		StandInDaemon::write_once(cl, wlctest::data_reply(a.seq, kObject, "a"));
		StandInDaemon::write_once(cl, wlctest::status_reply(a.seq, kObject, 0), fa);
		close(fa);
		written = 1;
		wlctest::WireMsg b = StandInDaemon::read_msg(cl);
		int fb = pipe_with("second");
		Bytes status = wlctest::status_reply(b.seq, kObject, 0);
		StandInDaemon::write_once(cl, wlctest::data_reply(b.seq, kObject, "b"));
		StandInDaemon::write_once(cl, Bytes(status.begin(), status.begin() + 12), fb);
		StandInDaemon::write_once(cl, Bytes(status.begin() + 12, status.end()));
		close(fb);
		written = 2;
	});
	int round = 0;
	for (const char *expected : {"first", "second"}) {
		ubus_request req;
		Got got;
		ASSERT_EQ(ubus_invoke_async(ctx_, kObject, "get", b_.head, &req), 0);
		req.data_cb = collect;
		req.priv = &got;
		ASSERT_TRUE(wlctest::wait_until([&] { return written == round + 1; }, std::chrono::seconds(10)));
		round++;
		ASSERT_EQ(ubus_complete_request(ctx_, &req, 10000), UBUS_STATUS_OK);
		EXPECT_EQ(got.values.size(), 1u);
		ASSERT_GE(req.fd, 0) << expected;
		char buf[16] = {};
		EXPECT_EQ(read(req.fd, buf, sizeof(buf) - 1), static_cast<ssize_t>(std::strlen(expected)));
		EXPECT_STREQ(buf, expected);
		close(req.fd);
	}
}

// Half a message, then nothing for a while: the call goes on waiting and
// completes when the rest comes.
TEST_F(BusReads, PartialMessageWaitsForTheRest)
{
	std::atomic<bool> returned{false};
	std::atomic<bool> waited_ok{false};
	start([&](int cl) {
		wlctest::WireMsg m = StandInDaemon::read_msg(cl);
		Bytes both = join(wlctest::data_reply(m.seq, kObject, "late"), wlctest::status_reply(m.seq, kObject, 0));
		const size_t half = both.size() / 2 + 1;
		StandInDaemon::write_once(cl, Bytes(both.begin(), both.begin() + static_cast<long>(half)));
		// Taken by the client, which must still be waiting for the rest.
		waited_ok = StandInDaemon::wait_taken(cl) && !returned;
		StandInDaemon::write_once(cl, Bytes(both.begin() + static_cast<long>(half), both.end()));
	});
	Got got;
	EXPECT_EQ(call(got), UBUS_STATUS_OK);
	returned = true;
	daemon_->join();
	EXPECT_TRUE(waited_ok);
	EXPECT_EQ(got.values, std::vector<std::string>{"late"});
}

// The daemon answers every one of many messages that reach it in one write.
TEST(BusDaemonReads, ManyMessagesInOneWriteAreAllAnswered)
{
	wlctest::TempRoot root;
	wlctest::BusDaemon bus(root);
	int fd = wlctest::connect_unix(bus.socket());
	ASSERT_GE(fd, 0);
	Bytes hello(12);
	ASSERT_EQ(recv(fd, hello.data(), hello.size(), MSG_WAITALL), 12);
	blob_buf b = {};
	blob_buf_init(&b, 0);
	constexpr int kPings = 200;
	Bytes all;
	for (int i = 1; i <= kPings; i++)
		all = join(all, wlctest::wire_bytes(UBUS_MSG_PING, static_cast<uint16_t>(i), 0, b));
	blob_buf_free(&b);
	ASSERT_EQ(send(fd, all.data(), all.size(), MSG_NOSIGNAL), static_cast<ssize_t>(all.size()));
	// Each ping gets a DATA and a STATUS, in order.
	int statuses = 0;
	uint16_t last_seq = 0;
	for (int i = 0; i < 2 * kPings; i++) {
		wlctest::WireMsg m = StandInDaemon::read_msg(fd);
		ASSERT_TRUE(m.ok) << "after " << i << " replies";
		if (m.type == UBUS_MSG_STATUS) {
			statuses++;
			EXPECT_EQ(m.seq, static_cast<uint16_t>(last_seq + 1));
			last_seq = m.seq;
		}
	}
	EXPECT_EQ(statuses, kPings);
	close(fd);
}

} // namespace
