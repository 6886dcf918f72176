// The bus daemon under hostile and careless clients.
#include <wlc/c/ubox.h>
#include <wlc/c/ubus.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <random>
#include <sys/socket.h>
#include <netinet/in.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harness.h"
#include "standin_daemon.h"

namespace {

using namespace std::chrono_literals;

TEST(BusRobustness, DaemonSurvivesRandomMessages)
{
	wlctest::TempRoot root;
	wlctest::BusDaemon bus(root);
	wlctest::Process server({wlctest::program("bus_test_server"), "-s", bus.socket()});
	std::mt19937 rng(7);
	for (int client = 0; client < 30; client++) {
		int fd = wlctest::connect_unix(bus.socket());
		ASSERT_GE(fd, 0);
		for (int msg = 0; msg < 20; msg++) {
			// A plausible header (type, sequence, small length) with random attributes.
			uint32_t body = rng() % 64;
			std::vector<uint8_t> m(12 + body);
			for (auto &b : m)
				b = static_cast<uint8_t>(rng());
			m[0] = 0;
			m[1] = static_cast<uint8_t>(rng() % 12);
			uint32_t len = cpu_to_be32(4 + body);
			std::memcpy(m.data() + 8, &len, 4);
			if (send(fd, m.data(), m.size(), MSG_NOSIGNAL) < 0)
				break;
		}
		close(fd);
	}
	ubus_context *ctx = nullptr;
	uint32_t id = 0;
	ASSERT_TRUE(wlctest::wait_until([&] {
		if (!ctx)
			ctx = ubus_connect(bus.socket().c_str());
		return ctx && ubus_lookup_id(ctx, "svc", &id) == 0;
	}, 5s));
	blob_buf b = {};
	blob_buf_init(&b, 0);
	EXPECT_EQ(ubus_invoke(ctx, id, "echo", b.head, nullptr, nullptr, 2000), 0);
	blob_buf_free(&b);
	ubus_free(ctx);
	EXPECT_TRUE(bus.process().running());
}

TEST(BusRobustness, ClientThatNeverReadsDoesNotStallOthers)
{
	wlctest::TempRoot root;
	wlctest::BusDaemon bus(root);
	wlctest::Process server({wlctest::program("bus_test_server"), "-s", bus.socket()});
	ubus_context *ctx = nullptr;
	ASSERT_TRUE(wlctest::wait_until([&] {
		uint32_t id;
		if (!ctx)
			ctx = ubus_connect(bus.socket().c_str());
		return ctx && ubus_lookup_id(ctx, "svc", &id) == 0;
	}, 5s));
	// A client floods lookups and reads none of the answers.
	int greedy = wlctest::connect_unix(bus.socket());
	ASSERT_GE(greedy, 0);
	const uint8_t lookup_all[12] = {0, UBUS_MSG_LOOKUP, 0, 1, 0, 0, 0, 0, 0, 0, 0, 4};
	int flags = MSG_NOSIGNAL | MSG_DONTWAIT;
	for (int i = 0; i < 20000; i++)
		if (send(greedy, lookup_all, sizeof(lookup_all), flags) < 0)
			break;
	uint32_t id;
	auto start = std::chrono::steady_clock::now();
	EXPECT_EQ(ubus_lookup_id(ctx, "svc", &id), 0);
	EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
	close(greedy);
	ubus_free(ctx);
}

int noop(ubus_context *, ubus_object *, ubus_request_data *, const char *, blob_attr *)
{
	return 0;
}

// A client killed right after its last messages: the daemon sees them and
// the end of the connection in one wake-up, and must still drop the client
// and its objects.
TEST(BusRobustness, ClientEndingRightAfterItsLastMessagesLosesItsObjects)
{
	wlctest::TempRoot root;
	wlctest::BusDaemon bus(root);
	int ready[2], go[2];
	ASSERT_EQ(pipe(ready), 0);
	ASSERT_EQ(pipe(go), 0);
	pid_t child = fork();
	if (child == 0) {
		static ubus_method methods[] = {UBUS_METHOD_NOARG("noop", noop)};
		static ubus_object_type type = UBUS_OBJECT_TYPE("dying", methods);
		static ubus_object obj = {};
		obj.name = "dying";
		obj.type = &type;
		obj.methods = methods;
		obj.n_methods = 1;
		ubus_context *ctx = ubus_connect(bus.socket().c_str());
		char c = 0;
		if (!ctx || ubus_add_object(ctx, &obj) != 0 || write(ready[1], "r", 1) != 1 || read(go[0], &c, 1) != 1)
			_exit(1);
		// Answers for calls of no object: the daemon takes them without a word back.
		const uint8_t status[12] = {0, UBUS_MSG_STATUS, 0, 1, 0xde, 0xad, 0xbe, 0xef, 0, 0, 0, 4};
		std::vector<uint8_t> burst;
		for (int i = 0; i < 50; i++)
			burst.insert(burst.end(), status, status + sizeof(status));
		_exit(send(ctx->sock.fd, burst.data(), burst.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(burst.size()) ? 0 : 1);
	}
	ASSERT_GT(child, 0);
	char c = 0;
	ASSERT_EQ(read(ready[0], &c, 1), 1);
	ubus_context *ctx = ubus_connect(bus.socket().c_str());
	ASSERT_NE(ctx, nullptr);
	uint32_t id = 0;
	ASSERT_EQ(ubus_lookup_id(ctx, "dying", &id), 0);
	// The daemon sleeps while the client writes and ends, so that it finds both at once.
	bus.process().kill(SIGSTOP);
	ASSERT_EQ(write(go[1], "g", 1), 1);
	int status = -1;
	ASSERT_EQ(waitpid(child, &status, 0), child);
	EXPECT_EQ(status, 0);
	bus.process().kill(SIGCONT);
	EXPECT_TRUE(wlctest::wait_until([&] { return ubus_lookup_id(ctx, "dying", &id) == UBUS_STATUS_NOT_FOUND; }, 5s));
	ubus_free(ctx);
	for (int fd : {ready[0], ready[1], go[0], go[1]})
		close(fd);
}

// The same on the client's side: the daemon's last messages and its end
// arrive together, and the client still sees the connection lost.
TEST(BusRobustness, DaemonEndingRightAfterItsLastMessagesIsALoss)
{
	wlctest::TempRoot root;
	wlctest::StandInDaemon daemon(root.at("/bus.sock"), 0x01020304, [](int cl) {
		wlctest::Bytes burst;
		for (uint16_t seq = 100; seq < 105; seq++) { // answers to calls never made: nothing to do for them
			wlctest::Bytes b = wlctest::status_reply(seq, 0x55667788, 0);
			burst.insert(burst.end(), b.begin(), b.end());
		}
		wlctest::StandInDaemon::write_once(cl, burst);
	});
	uloop_init();
	ubus_context *ctx = ubus_connect(root.at("/bus.sock").c_str());
	ASSERT_NE(ctx, nullptr);
	daemon.join(); // the messages and the end are both there before the loop first looks
	static bool lost;
	lost = false;
	ctx->connection_lost = [](ubus_context *) { lost = true; uloop_end(); };
	ubus_add_uloop(ctx);
	uloop_run_timeout(3000);
	EXPECT_TRUE(lost);
	ubus_free(ctx);
	uloop_done();
}

TEST(Harness, PrivateNetworkNamespaceHidesHostListeners)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "network namespaces need root";
	// A listener in this namespace on an ephemeral loopback port...
	int host = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_in addr = {};
	addr.sin_family = AF_INET;
	addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	ASSERT_EQ(bind(host, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)), 0);
	ASSERT_EQ(listen(host, 1), 0);
	socklen_t len = sizeof(addr);
	getsockname(host, reinterpret_cast<sockaddr *>(&addr), &len);
	// ...is not reachable from a child in a namespace of its own, where the
	// same port can be bound again.
	pid_t pid = fork();
	if (pid == 0) {
		if (!wlctest::enter_private_netns())
			_exit(10);
		int c = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
		if (connect(c, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0)
			_exit(11);
		int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
		_exit(bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0 ? 0 : 12);
	}
	int status = -1;
	waitpid(pid, &status, 0);
	close(host);
	ASSERT_TRUE(WIFEXITED(status));
	EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
