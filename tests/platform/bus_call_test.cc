// The bus client and daemon together: lookups, invokes, replies, deferred
// and multiple replies, descriptors, failures and many clients.
#include <wlc/c/ubox.h>
#include <wlc/c/blobmsg_json.h>
#include <wlc/c/ubus.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "harness.h"

namespace {

using namespace std::chrono_literals;

struct Replies {
	std::vector<std::string> json;
	int fd = -1;
};

void collect(ubus_request *req, int, blob_attr *msg)
{
	char *s = blobmsg_format_json(msg, true);
	static_cast<Replies *>(req->priv)->json.push_back(s ? s : "");
	std::free(s);
}

class BusTest : public wlctest::DeviceTest {
protected:
	void SetUp() override
	{
		DeviceTest::SetUp();
		server_ = std::make_unique<wlctest::Process>(
			std::vector<std::string>{wlctest::program("bus_test_server"), "-s", bus_->socket()});
		ctx_ = ubus_connect(nullptr); // the default socket under the device root
		ASSERT_NE(ctx_, nullptr);
		ASSERT_TRUE(wlctest::wait_until([&] { return ubus_lookup_id(ctx_, "svc", &svc_) == 0; }, 5s));
		blob_buf_init(&b_, 0);
	}
	void TearDown() override
	{
		blob_buf_free(&b_);
		ubus_free(ctx_);
		server_.reset();
		DeviceTest::TearDown();
	}

	int call(const char *method, Replies &out, int timeout = 2000)
	{
		return ubus_invoke(ctx_, svc_, method, b_.head, collect, &out, timeout);
	}

	std::unique_ptr<wlctest::Process> server_;
	ubus_context *ctx_ = nullptr;
	uint32_t svc_ = 0;
	blob_buf b_ = {};
};

TEST_F(BusTest, LookupGivesPathIdAndSignature)
{
	struct Seen {
		std::vector<std::string> paths;
		std::vector<std::string> methods;
	} seen;
	auto cb = [](ubus_context *, ubus_object_data *obj, void *priv) {
		auto *s = static_cast<Seen *>(priv);
		s->paths.push_back(obj->path);
		if (std::string(obj->path) != "test")
			return;
		blob_attr *m;
		size_t rem;
		blob_for_each_attr(m, obj->signature, rem) {
			char *j = blobmsg_format_json(m, false);
			s->methods.push_back(j);
			std::free(j);
		}
	};
	ASSERT_EQ(ubus_lookup(ctx_, nullptr, cb, &seen), 0);
	EXPECT_EQ(seen.paths, (std::vector<std::string>{"svc", "test"}));
	EXPECT_EQ(seen.methods, (std::vector<std::string>{R"("hello":{"id":5,"msg":3})",
							  R"("watch":{"id":5,"counter":5})",
							  R"("count":{"to":5,"string":3})"}));
	EXPECT_EQ(ubus_lookup(ctx_, "nothing", cb, &seen), UBUS_STATUS_NOT_FOUND);
	uint32_t id;
	EXPECT_EQ(ubus_lookup_id(ctx_, "nothing", &id), UBUS_STATUS_NOT_FOUND);
	// The empty path names no object, and the daemon keeps serving.
	EXPECT_EQ(ubus_lookup_id(ctx_, "", &id), UBUS_STATUS_NOT_FOUND);
	EXPECT_EQ(ubus_lookup_id(ctx_, "svc", &id), 0);
}

TEST_F(BusTest, InvokeCarriesArgumentsAndReply)
{
	blobmsg_add_string(&b_, "who", "me");
	blobmsg_add_u32(&b_, "n", 42);
	Replies r;
	ASSERT_EQ(call("echo", r), 0);
	EXPECT_EQ(r.json, (std::vector<std::string>{R"({"who":"me","n":42})"}));
}

TEST_F(BusTest, StatusCodesReachTheCaller)
{
	Replies r;
	EXPECT_EQ(call("fail", r), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(call("no_such_method", r), UBUS_STATUS_METHOD_NOT_FOUND);
	EXPECT_EQ(ubus_invoke(ctx_, 0x7fffffff, "echo", b_.head, nullptr, nullptr, 1000), UBUS_STATUS_NOT_FOUND);
	EXPECT_STREQ(ubus_strerror(UBUS_STATUS_TIMEOUT), "Request timed out");
	EXPECT_STREQ(ubus_strerror(99), "Unknown error");
}

TEST_F(BusTest, DeferredAndMultipleReplies)
{
	Replies late;
	ASSERT_EQ(call("defer", late), 0);
	EXPECT_EQ(late.json, (std::vector<std::string>{R"({"state":"done late"})"}));
	Replies parts;
	ASSERT_EQ(call("multi", parts), 0);
	EXPECT_EQ(parts.json, (std::vector<std::string>{R"({"part":0})", R"({"part":1})", R"({"part":2})"}));
}

TEST_F(BusTest, UnansweredCallTimesOut)
{
	Replies r;
	auto start = std::chrono::steady_clock::now();
	EXPECT_EQ(call("never", r, 200), UBUS_STATUS_TIMEOUT);
	EXPECT_GE(std::chrono::steady_clock::now() - start, 190ms);
	// The connection is still usable afterwards.
	EXPECT_EQ(call("echo", r), 0);
}

TEST_F(BusTest, DescriptorsTravelBothWays)
{
	ubus_request req;
	ASSERT_EQ(ubus_invoke_async(ctx_, svc_, "fd", b_.head, &req), 0);
	int got = -1;
	req.priv = &got;
	req.fd_cb = [](ubus_request *r, int fd) { *static_cast<int *>(r->priv) = fd; };
	ASSERT_EQ(ubus_complete_request(ctx_, &req, 2000), 0);
	ASSERT_GE(got, 0);
	char buf[64] = {};
	EXPECT_GT(read(got, buf, sizeof(buf) - 1), 0);
	EXPECT_STREQ(buf, "from the service");
	close(got);

	int p[2];
	ASSERT_EQ(pipe(p), 0);
	ASSERT_EQ(write(p[1], "from the caller", 15), 15);
	close(p[1]);
	Replies r;
	ASSERT_EQ(ubus_invoke_fd(ctx_, svc_, "caller_fd", b_.head, collect, &r, 2000, p[0]), 0);
	EXPECT_EQ(r.json, (std::vector<std::string>{R"({"read":"from the caller"})"}));
}

TEST_F(BusTest, ServiceDyingMidCallEndsTheCallAtOnce)
{
	Replies r;
	auto start = std::chrono::steady_clock::now();
	EXPECT_EQ(call("die", r, 5000), UBUS_STATUS_NOT_FOUND);
	EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
	// Its objects went with it.
	uint32_t id;
	EXPECT_TRUE(wlctest::wait_until([&] { return ubus_lookup_id(ctx_, "svc", &id) == UBUS_STATUS_NOT_FOUND; }, 2s));
}

TEST_F(BusTest, AsyncInvokeCompletesInTheEventLoop)
{
	ubus_add_uloop(ctx_);
	struct State {
		Replies replies;
		int status = -1;
	} state;
	ubus_request req;
	blobmsg_add_string(&b_, "k", "v");
	ASSERT_EQ(ubus_invoke_async(ctx_, svc_, "echo", b_.head, &req), 0);
	req.priv = &state;
	req.data_cb = [](ubus_request *r, int, blob_attr *msg) {
		char *s = blobmsg_format_json(msg, true);
		static_cast<State *>(r->priv)->replies.json.push_back(s);
		std::free(s);
	};
	req.complete_cb = [](ubus_request *r, int ret) {
		static_cast<State *>(r->priv)->status = ret;
		uloop_end();
	};
	ubus_complete_request_async(ctx_, &req);
	uloop_run_timeout(2000);
	EXPECT_EQ(state.status, 0);
	EXPECT_EQ(state.replies.json, (std::vector<std::string>{R"({"k":"v"})"}));

	// An aborted request calls nothing back.
	ubus_request aborted;
	ASSERT_EQ(ubus_invoke_async(ctx_, svc_, "defer", b_.head, &aborted), 0);
	bool called = false;
	aborted.priv = &called;
	aborted.complete_cb = [](ubus_request *r, int) { *static_cast<bool *>(r->priv) = true; };
	ubus_complete_request_async(ctx_, &aborted);
	ubus_abort_request(ctx_, &aborted);
	uloop_run_timeout(200);
	EXPECT_FALSE(called);
	uloop_fd_delete(&ctx_->sock);
}

// A controller keeps thousands of calls in flight, some of them to objects
// that never answer: every answer reaches its own request, aborted ones call
// nothing back, and the unanswered ones stay waiting.
TEST_F(BusTest, ManyCallsInFlightEachGetTheirOwnAnswer)
{
	ubus_add_uloop(ctx_);
	struct Call {
		ubus_request req;
		int n = 0;
		int status = -1;
		std::string reply;
		int *done = nullptr;
	};
	constexpr int kCalls = 2000, kParked = 50;
	int done = 0;
	std::vector<std::unique_ptr<Call>> parked, calls;
	for (int i = 0; i < kParked; i++) {
		parked.push_back(std::make_unique<Call>());
		ASSERT_EQ(ubus_invoke_async(ctx_, svc_, "never", b_.head, &parked.back()->req), 0);
		ubus_complete_request_async(ctx_, &parked.back()->req);
	}
	for (int i = 0; i < kCalls; i++) {
		auto c = std::make_unique<Call>();
		c->n = i;
		c->done = &done;
		blob_buf_init(&b_, 0);
		blobmsg_add_u32(&b_, "n", static_cast<uint32_t>(i));
		ASSERT_EQ(ubus_invoke_async(ctx_, svc_, "echo", b_.head, &c->req), 0);
		c->req.priv = c.get();
		c->req.data_cb = [](ubus_request *r, int, blob_attr *msg) {
			char *s = blobmsg_format_json(msg, true);
			static_cast<Call *>(r->priv)->reply = s ? s : "";
			std::free(s);
		};
		c->req.complete_cb = [](ubus_request *r, int ret) {
			auto *call = static_cast<Call *>(r->priv);
			call->status = ret;
			(*call->done)++;
		};
		ubus_complete_request_async(ctx_, &c->req);
		calls.push_back(std::move(c));
	}
	int aborted = 0;
	for (int i = 7; i < kCalls; i += 10, aborted++)
		ubus_abort_request(ctx_, &calls[static_cast<size_t>(i)]->req);
	auto until = std::chrono::steady_clock::now() + 10s;
	while (done < kCalls - aborted && std::chrono::steady_clock::now() < until)
		uloop_run_timeout(100);
	EXPECT_EQ(done, kCalls - aborted);
	for (const auto &c : calls) {
		if (c->n % 10 == 7) {
			EXPECT_EQ(c->status, -1) << c->n;
			continue;
		}
		EXPECT_EQ(c->status, 0) << c->n;
		EXPECT_EQ(c->reply, "{\"n\":" + std::to_string(c->n) + "}");
	}
	for (const auto &p : parked) {
		EXPECT_FALSE(p->req.status_msg);
		ubus_abort_request(ctx_, &p->req);
	}
	uloop_fd_delete(&ctx_->sock);
}

// A local object served by this process while it also calls out.
int local_sum(ubus_context *ctx, ubus_object *, ubus_request_data *req, const char *, blob_attr *msg)
{
	static const blobmsg_policy policy[] = {{"a", BLOBMSG_TYPE_INT32}, {"b", BLOBMSG_TYPE_INT32}};
	blob_attr *tb[2];
	blobmsg_parse(policy, 2, tb, blob_data(msg), static_cast<unsigned int>(blob_len(msg)));
	if (!tb[0] || !tb[1])
		return UBUS_STATUS_INVALID_ARGUMENT;
	blob_buf b = {};
	blob_buf_init(&b, 0);
	blobmsg_add_u32(&b, "sum", blobmsg_get_u32(tb[0]) + blobmsg_get_u32(tb[1]));
	ubus_send_reply(ctx, req, b.head);
	blob_buf_free(&b);
	return 0;
}

const blobmsg_policy sum_policy[] = {{"a", BLOBMSG_TYPE_INT32}, {"b", BLOBMSG_TYPE_INT32}};
const ubus_method local_methods[] = {UBUS_METHOD("sum", local_sum, sum_policy)};
ubus_object_type local_type = UBUS_OBJECT_TYPE("local", local_methods);

TEST_F(BusTest, ToolListsAndCallsOurObjects)
{
	ubus_add_uloop(ctx_);
	ubus_object obj = {};
	obj.name = "local.calc";
	obj.type = &local_type;
	obj.methods = local_methods;
	obj.n_methods = 1;
	ASSERT_EQ(ubus_add_object(ctx_, &obj), 0);
	ubus_object dup = obj;
	dup.id = 0;
	EXPECT_EQ(ubus_add_object(ctx_, &dup), UBUS_STATUS_INVALID_ARGUMENT);

	// The tool runs in a child; this process serves the object meanwhile. The
	// loop must not reap the tool's process before the harness reads its status.
	uloop_handle_sigchld = false;
	wlctest::RunResult list, call, bad;
	std::atomic<bool> done = false;
	std::thread t([&] {
		list = wlctest::run({wlctest::ubus_tool(), "-v", "list", "local.*"});
		call = wlctest::run({wlctest::ubus_tool(), "call", "local.calc", "sum", R"({"a":2,"b":40})"});
		bad = wlctest::run({wlctest::ubus_tool(), "call", "local.calc", "sum", R"({"a":2})"});
		done = true;
	});
	wlctest::pump([&] { return done.load(); }, 10s);
	t.join();
	uloop_handle_sigchld = true;
	char idbuf[16];
	std::snprintf(idbuf, sizeof(idbuf), "%08x", obj.id);
	EXPECT_EQ(list.out, std::string("'local.calc' @") + idbuf + "\n\t\"sum\":{\"a\":\"Integer\",\"b\":\"Integer\"}\n");
	EXPECT_EQ(call.status, 0);
	EXPECT_EQ(call.out, "{\n\t\"sum\": 42\n}\n");
	// Standard error is a pipe here: the whole command, and 256 minus the status.
	EXPECT_EQ(bad.status, 256 - UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(bad.err, "Command failed: ubus call local.calc sum {\"a\":2} (Invalid argument)\n");
	EXPECT_EQ(ubus_remove_object(ctx_, &obj), 0);
	uint32_t id;
	EXPECT_EQ(ubus_lookup_id(ctx_, "local.calc", &id), UBUS_STATUS_NOT_FOUND);
	uloop_fd_delete(&ctx_->sock);
}

namespace {

// Runs each command line with the tool while this process serves its objects.
std::vector<wlctest::RunResult> run_tool(const std::vector<std::pair<bool, std::vector<std::string>>> &cmds)
{
	uloop_handle_sigchld = false;
	std::vector<wlctest::RunResult> results;
	std::atomic<bool> done = false;
	std::thread t([&] {
		for (const auto &[terminal, args] : cmds) {
			std::vector<std::string> argv{wlctest::ubus_tool()};
			argv.insert(argv.end(), args.begin(), args.end());
			results.push_back(terminal ? wlctest::run_with_terminal(argv) : wlctest::run(argv));
		}
		done = true;
	});
	wlctest::pump([&] { return done.load(); }, 20s);
	t.join();
	uloop_handle_sigchld = true;
	return results;
}

} // namespace

TEST_F(BusTest, ToolFailuresAreReportedAsThePlatformsTool)
{
	ubus_add_uloop(ctx_);
	ubus_object obj = {};
	obj.name = "local.calc";
	obj.type = &local_type;
	obj.methods = local_methods;
	obj.n_methods = 1;
	ASSERT_EQ(ubus_add_object(ctx_, &obj), 0);
	constexpr bool pipe = false, terminal = true;
	auto r = run_tool({
		{pipe, {"call", "local.calc", "nope"}},
		{terminal, {"call", "local.calc", "nope"}},
		{pipe, {"call", "local.calc", "nope", "{}"}},
		{pipe, {"-S", "call", "local.calc", "nope"}},
		{pipe, {"call", "local.none", "sum"}},
		{terminal, {"call", "local.none", "sum"}},
		{pipe, {"call", "local.calc", "sum", "{bad"}},
		{terminal, {"call", "local.calc", "sum", "{bad"}},
	});
	ASSERT_EQ(r.size(), 8u);
	EXPECT_EQ(r[0].status, 253);
	EXPECT_EQ(r[0].err, "Command failed: ubus call local.calc nope (Method not found)\n");
	EXPECT_EQ(r[1].status, UBUS_STATUS_METHOD_NOT_FOUND);
	EXPECT_EQ(r[1].err, "Command failed: Method not found\n");
	EXPECT_EQ(r[2].err, "Command failed: ubus call local.calc nope {} (Method not found)\n");
	EXPECT_EQ(r[3].status, UBUS_STATUS_METHOD_NOT_FOUND);
	EXPECT_EQ(r[3].err, "");
	// A failed look-up is reported the short way wherever standard error goes.
	for (int i : {4, 5}) {
		EXPECT_EQ(r[i].status, UBUS_STATUS_NOT_FOUND) << i;
		EXPECT_EQ(r[i].err, "Command failed: Not found\n") << i;
	}
	EXPECT_EQ(r[6].status, 256 - UBUS_STATUS_PARSE_ERROR);
	EXPECT_EQ(r[6].err, "Command failed: ubus call local.calc sum {bad (Parsing message data failed)\n");
	EXPECT_EQ(r[7].status, UBUS_STATUS_PARSE_ERROR);
	EXPECT_EQ(r[7].err, "Command failed: Parsing message data failed\n");
	EXPECT_EQ(ubus_remove_object(ctx_, &obj), 0);
	uloop_fd_delete(&ctx_->sock);
}

TEST_F(BusTest, ManyClientsAndObjectsWithWildcardLookup)
{
	constexpr int kClients = 40;
	constexpr int kObjects = 5;
	std::vector<ubus_context *> clients;
	std::vector<std::unique_ptr<ubus_object>> objects;
	std::vector<std::string> names;
	names.reserve(kClients * kObjects);
	for (int c = 0; c < kClients; c++) {
		ubus_context *cl = ubus_connect(nullptr);
		ASSERT_NE(cl, nullptr);
		clients.push_back(cl);
		for (int o = 0; o < kObjects; o++) {
			names.push_back("network.interface.c" + std::to_string(c) + "o" + std::to_string(o));
			auto obj = std::make_unique<ubus_object>();
			obj->name = names.back().c_str();
			obj->type = &local_type;
			ASSERT_EQ(ubus_add_object(cl, obj.get()), 0);
			objects.push_back(std::move(obj));
		}
	}
	auto count = [&](const char *pattern) {
		int n = 0;
		ubus_lookup(ctx_, pattern, [](ubus_context *, ubus_object_data *, void *p) { ++*static_cast<int *>(p); }, &n);
		return n;
	};
	EXPECT_EQ(count("network.interface.*"), kClients * kObjects);
	EXPECT_EQ(count("network.interface.c1*"), 11 * kObjects); // c1 and c10..c19
	EXPECT_EQ(count("network.interface.c7o3"), 1);
	// A client that goes away takes its objects with it.
	ubus_free(clients.back());
	clients.pop_back();
	EXPECT_TRUE(wlctest::wait_until([&] { return count("network.interface.*") == (kClients - 1) * kObjects; }, 2s));
	for (auto *cl : clients)
		ubus_free(cl);
}

TEST_F(BusTest, ConnectionLossIsReported)
{
	ubus_add_uloop(ctx_);
	static bool lost;
	lost = false;
	ctx_->connection_lost = [](ubus_context *) { lost = true; uloop_end(); };
	bus_->process().kill(SIGKILL);
	uloop_run_timeout(3000);
	EXPECT_TRUE(lost);
	Replies r;
	EXPECT_EQ(call("echo", r), UBUS_STATUS_CONNECTION_FAILED);
}

} // namespace
