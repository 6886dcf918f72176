// The C++ layer: loop handles, blob buffers and readers, bus objects with
// immediate and deferred replies, asynchronous calls.
#include <wlc/blob.h>
#include <wlc/bus.h>
#include <wlc/loop.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>
#include <arpa/inet.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harness.h"

namespace {

using namespace std::chrono_literals;

class LoopTest : public ::testing::Test {
protected:
	void SetUp() override { uloop_init(); }
	void TearDown() override { uloop_done(); }
};

TEST_F(LoopTest, TimerFiresOnceAndCancelsWhenDestroyed)
{
	int fired = 0;
	wlc::Timer t([&] { fired++; });
	t.set(5);
	EXPECT_TRUE(t.pending());
	EXPECT_LE(t.remaining(), 5);
	{
		wlc::Timer gone([&] { fired += 100; });
		gone.set(1);
	}
	uloop_run_timeout(50);
	EXPECT_EQ(fired, 1);
	EXPECT_FALSE(t.pending());
	EXPECT_EQ(t.remaining(), -1);
}

TEST_F(LoopTest, DescriptorAndProcessWatches)
{
	int p[2];
	ASSERT_EQ(pipe(p), 0);
	wlc::UniqueFd rd(p[0]), wr(p[1]);
	std::string got;
	wlc::FdWatch watch(rd.get(), [&](unsigned int) {
		char buf[16];
		ssize_t n = read(rd.get(), buf, sizeof(buf));
		if (n > 0)
			got.append(buf, static_cast<size_t>(n));
	});
	ASSERT_TRUE(watch.start(ULOOP_READ));
	int status = -1;
	wlc::ProcessWatch child([&](int st) {
		status = st;
		uloop_end();
	});
	pid_t pid = fork();
	if (pid == 0) {
		if (write(p[1], "hi", 2) != 2)
			_exit(1);
		_exit(4);
	}
	ASSERT_TRUE(child.watch(pid));
	uloop_run_timeout(2000);
	uloop_run_timeout(20); // let the pipe's data in if the exit came first
	EXPECT_EQ(got, "hi");
	ASSERT_TRUE(WIFEXITED(status));
	EXPECT_EQ(WEXITSTATUS(status), 4);
	wlc::UniqueFd moved(std::move(wr));
	EXPECT_FALSE(wr);
	EXPECT_TRUE(moved);
}

TEST(BlobLayer, BuildsNestedMessagesAndReadsTypedFields)
{
	wlc::BlobBuf b;
	b.add("name", std::string_view("ap1-a3")).add_u32("count", 3).add_bool("up", true).add_u64("big", 1ULL << 40);
	{
		auto list = b.array("list");
		b.add(nullptr, "x");
		auto inner = b.table();
		b.add_u16("ch", 36);
	}
	EXPECT_EQ(b.json(), R"({"name":"ap1-a3","count":3,"up":true,"big":1099511627776,"list":["x",{"ch":36}]})");

	enum { NAME, COUNT, UP, BIG, MISSING, N };
	wlc::Fields<N> f;
	ASSERT_TRUE(f.parse({{{"name", BLOBMSG_TYPE_STRING}, {"count", BLOBMSG_TYPE_INT32}, {"up", BLOBMSG_TYPE_BOOL},
			      {"big", BLOBMSG_TYPE_INT64}, {"missing", BLOBMSG_TYPE_STRING}}},
			    b.head()));
	EXPECT_EQ(f.str(NAME), "ap1-a3");
	EXPECT_EQ(f.u32(COUNT), 3u);
	EXPECT_EQ(f.boolean(UP), true);
	EXPECT_EQ(f.u64(BIG), 1ULL << 40);
	EXPECT_FALSE(f.has(MISSING));
	EXPECT_EQ(wlc::get_u32(f[NAME]), std::nullopt); // a string is not an integer

	wlc::BlobBuf moved = std::move(b);
	moved.reset();
	EXPECT_EQ(moved.json(), "{}");
	EXPECT_TRUE(moved.add_json(R"({"a":[1,2]})"));
	EXPECT_FALSE(moved.add_json("not json"));
}

// A payload whose outer length alone was checked is copied field by field:
// a field whose name runs past its end must not be copied (it would read and
// write past the payload), the fields around it still are.
TEST(BlobLayer, CopyingFieldsLeavesOutMalformedOnes)
{
	wlc::BlobBuf b;
	b.add("a", "x").add("bad", "yy").add_u32("n", 7);
	std::vector<uint8_t> raw(reinterpret_cast<const uint8_t *>(b.head()),
				 reinterpret_cast<const uint8_t *>(b.head()) + blob_raw_len(b.head()));
	auto *msg = reinterpret_cast<blob_attr *>(raw.data());
	blob_attr *pos;
	size_t rem;
	int broken = 0;
	blobmsg_for_each_attr(pos, msg, rem) {
		if (std::string_view(blobmsg_name(pos)) == "bad") {
			static_cast<blobmsg_hdr *>(blob_data(pos))->namelen = htons(0x7fff);
			broken++;
		}
	}
	ASSERT_EQ(broken, 1);
	EXPECT_EQ(wlc::BlobBuf().add_fields(msg).json(), R"({"a":"x","n":7})");

	// A field without a name header: its data would be taken for a name.
	uint32_t bare[3] = {htonl(BLOBMSG_TYPE_STRING << BLOB_ATTR_ID_SHIFT | 12), 0x41414141, 0x41414141};
	wlc::BlobBuf with_bare;
	with_bare.add("a", "x");
	blob_put_raw(with_bare.raw(), bare, sizeof(bare));
	EXPECT_EQ(wlc::BlobBuf().add_fields(with_bare.head()).json(), R"({"a":"x"})");
}

class BusLayer : public wlctest::DeviceTest {
protected:
	void SetUp() override
	{
		DeviceTest::SetUp();
		uloop_init();
		ASSERT_TRUE(server_.connect());
		ASSERT_TRUE(client_.connect(bus_->socket()));
		server_.watch();
		client_.watch();
	}
	void TearDown() override
	{
		client_.close();
		server_.close();
		uloop_done();
		DeviceTest::TearDown();
	}

	wlc::Bus server_;
	wlc::Bus client_;
};

TEST_F(BusLayer, ObjectAnswersNowLaterOrNever)
{
	std::optional<wlc::DeferredReply> parked;
	wlc::Timer later([&] {
		wlc::BlobBuf r;
		r.add("when", "later");
		parked->reply(r);
		parked->complete(UBUS_STATUS_OK);
	});
	wlc::BusObject obj("calc", {
		{"double", {{"n", BLOBMSG_TYPE_INT32}}, [](wlc::Request &req, blob_attr *msg) {
			 wlc::Fields<1> f;
			 if (!f.parse({{{"n", BLOBMSG_TYPE_INT32}}}, msg) || !f.u32(0))
				 return UBUS_STATUS_INVALID_ARGUMENT;
			 wlc::BlobBuf r;
			 r.add_u32("n", *f.u32(0) * 2);
			 req.reply(r);
			 return UBUS_STATUS_OK;
		 }},
		{"later", {}, [&](wlc::Request &req, blob_attr *) {
			 parked = req.defer();
			 later.set(10);
			 return UBUS_STATUS_OK;
		 }},
		{"forgotten", {}, [](wlc::Request &req, blob_attr *) {
			 wlc::DeferredReply dropped = req.defer(); // goes out of scope unanswered
			 return UBUS_STATUS_OK;
		 }},
		{"throws", {}, [](wlc::Request &, blob_attr *) -> int { throw std::runtime_error("bug"); }},
	});
	ASSERT_EQ(obj.add(server_), UBUS_STATUS_OK);
	uint32_t id = client_.lookup("calc");
	ASSERT_EQ(id, obj.id());

	struct Outcome {
		std::string json;
		int status = -1;
	};
	auto call = [&](const char *method, const wlc::BlobBuf &args) {
		Outcome out;
		wlc::AsyncCall c;
		int ret = client_.call_async(id, method, args, c,
			[&](blob_attr *msg) {
				out.json = wlc::BlobBuf().add_fields(msg).json();
			},
			[&](int status) {
				out.status = status;
				uloop_end();
			});
		EXPECT_EQ(ret, 0);
		uloop_run_timeout(2000);
		return out;
	};
	wlc::BlobBuf args;
	args.add_u32("n", 21);
	Outcome now = call("double", args);
	EXPECT_EQ(now.status, UBUS_STATUS_OK);
	EXPECT_EQ(now.json, R"({"n":42})");
	EXPECT_EQ(call("double", wlc::BlobBuf()).status, UBUS_STATUS_INVALID_ARGUMENT);
	Outcome late = call("later", wlc::BlobBuf());
	EXPECT_EQ(late.status, UBUS_STATUS_OK);
	EXPECT_EQ(late.json, R"({"when":"later"})");
	EXPECT_EQ(call("forgotten", wlc::BlobBuf()).status, UBUS_STATUS_NO_DATA);
	EXPECT_EQ(call("throws", wlc::BlobBuf()).status, UBUS_STATUS_UNKNOWN_ERROR);
	EXPECT_EQ(call("missing", wlc::BlobBuf()).status, UBUS_STATUS_METHOD_NOT_FOUND);

	obj.remove();
	EXPECT_EQ(client_.lookup("calc"), 0u);
}

TEST_F(BusLayer, AbandonedCallIsAbortedAndLossIsReported)
{
	std::optional<wlc::DeferredReply> keep;
	wlc::BusObject slow("slow", {{"wait", {}, [&](wlc::Request &req, blob_attr *) {
					      keep = req.defer();
					      return UBUS_STATUS_OK;
				      }}});
	ASSERT_EQ(slow.add(server_), UBUS_STATUS_OK);
	bool called = false;
	{
		wlc::AsyncCall c;
		ASSERT_EQ(client_.call_async(slow.id(), "wait", wlc::BlobBuf(), c, nullptr, [&](int) { called = true; }), 0);
		EXPECT_TRUE(c.pending());
	}
	uloop_run_timeout(50);
	EXPECT_FALSE(called);

	bool lost = false;
	client_.on_lost([&] {
		lost = true;
		uloop_end();
	});
	bus_->process().kill(SIGTERM);
	uloop_run_timeout(3000);
	EXPECT_TRUE(lost);
	keep.reset(); // answering on a lost connection is harmless
}

TEST_F(BusLayer, CallStillWaitingWhenItsBusClosesIsAbortedFirst)
{
	std::optional<wlc::DeferredReply> keep;
	wlc::BusObject slow("slow", {{"wait", {}, [&](wlc::Request &req, blob_attr *) {
					      keep = req.defer();
					      return UBUS_STATUS_OK;
				      }}});
	ASSERT_EQ(slow.add(server_), UBUS_STATUS_OK);
	bool called = false;
	auto call = std::make_unique<wlc::AsyncCall>();
	ASSERT_EQ(client_.call_async(slow.id(), "wait", wlc::BlobBuf(), *call, nullptr, [&](int) { called = true; }), 0);
	ASSERT_TRUE(wlctest::pump([&] { return keep.has_value(); }));
	client_.close();
	EXPECT_FALSE(call->pending());
	call.reset(); // must not reach into the freed connection
	EXPECT_FALSE(called);
}

} // namespace

namespace {

TEST_F(BusLayer, LostConnectionComesBackWithItsObjects)
{
	int calls = 0;
	wlc::BusObject counter("counter", {{"count", {}, [&](wlc::Request &, blob_attr *) {
						    calls++;
						    return UBUS_STATUS_OK;
					    }}});
	ASSERT_EQ(counter.add(server_), UBUS_STATUS_OK);
	bool lost = false, restored = false;
	server_.on_lost([&] {
		lost = true;
		// Nothing reaches the bus until the connection is back.
		EXPECT_FALSE(server_.online());
		EXPECT_EQ(server_.lookup("counter"), 0u);
	});
	server_.on_restored([&] { restored = true; });
	bus_->restart();
	ASSERT_TRUE(wlctest::pump([&] { return restored && client_.online() && client_.lookup("counter") != 0; }, 20s));
	EXPECT_TRUE(lost);
	EXPECT_TRUE(counter.added());
	EXPECT_EQ(counter.id(), client_.lookup("counter"));
	int status = -1;
	wlc::AsyncCall c;
	ASSERT_EQ(client_.call_async(client_.lookup("counter"), "count", wlc::BlobBuf(), c, nullptr,
				     [&](int s) { status = s; }),
		  0);
	ASSERT_TRUE(wlctest::pump([&] { return status != -1; }));
	EXPECT_EQ(status, UBUS_STATUS_OK);
	EXPECT_EQ(calls, 1);
	// Removing it after the restart takes it off the new bus.
	counter.remove();
	EXPECT_EQ(client_.lookup("counter"), 0u);
}

} // namespace
