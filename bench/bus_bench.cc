// Bus call round trip through the bus daemon against a raw Unix-socket
// ping-pong of the same payload, measured in the same run; prints the ratio.
#include <wlc/c/ubox.h>
#include <wlc/c/ubus.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <vector>
#include <unistd.h>
#include "ratio_reporter.h"
#include "support.h"

namespace {

using bench::cpu_seconds;
using bench::private_network;
using bench::spawn;

std::string g_socket;
uint64_t g_calls = 0; // bus calls made, over every run of the benchmark

void noop_reply(ubus_request *, int, blob_attr *) {}

// A connection to the bus with the echo object's id, and the payload of
// every call; released when the benchmark ends.
struct EchoPeer {
	EchoPeer() : ctx(ubus_connect(g_socket.c_str()))
	{
		if (ctx && ubus_lookup_id(ctx, "bench", &id) != 0) {
			ubus_free(ctx);
			ctx = nullptr;
		}
		blob_buf_init(&payload, 0);
		blobmsg_add_string(&payload, "payload", "0123456789abcdef");
	}
	~EchoPeer()
	{
		blob_buf_free(&payload);
		if (ctx)
			ubus_free(ctx);
	}
	EchoPeer(const EchoPeer &) = delete;
	EchoPeer &operator=(const EchoPeer &) = delete;

	ubus_context *ctx;
	uint32_t id = 0;
	blob_buf payload = {};
};

void BM_BusCallRoundTrip(benchmark::State &state)
{
	EchoPeer peer;
	if (!peer.ctx) {
		state.SkipWithError("bus not available");
		return;
	}
	for (auto _ : state) {
		if (ubus_invoke(peer.ctx, peer.id, "echo", peer.payload.head, noop_reply, nullptr, 1000) != 0) {
			state.SkipWithError("call failed");
			break;
		}
		g_calls++;
	}
	state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BusCallRoundTrip)->UseRealTime();

// A burst of calls sent at once and answered from the event loop, as a
// controller's relays make them: the cost per call should not grow with the
// number of calls in flight.
void BM_BusCallsInFlight(benchmark::State &state)
{
	EchoPeer peer;
	if (!peer.ctx) {
		state.SkipWithError("bus not available");
		return;
	}
	uloop_init();
	ubus_add_uloop(peer.ctx);
	const auto burst = static_cast<size_t>(state.range(0));
	std::vector<ubus_request> reqs(burst);
	struct Count {
		size_t left = 0;
		bool failed = false;
	} count;
	for (auto _ : state) {
		count.left = burst;
		size_t sent = 0;
		for (ubus_request &r : reqs) {
			if (ubus_invoke_async(peer.ctx, peer.id, "echo", peer.payload.head, &r) != 0)
				break;
			r.priv = &count;
			r.complete_cb = [](ubus_request *req, int ret) {
				auto *c = static_cast<Count *>(req->priv);
				c->failed = c->failed || ret != 0;
				if (--c->left == 0)
					uloop_end();
			};
			ubus_complete_request_async(peer.ctx, &r);
			sent++;
		}
		count.left -= burst - sent; // the calls not made are not waited for
		if (count.left > 0)
			uloop_run_timeout(30000);
		if (sent < burst || count.left || count.failed) {
			state.SkipWithError("calls not made, unanswered or failed");
			break;
		}
		g_calls += burst;
	}
	state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * burst));
	uloop_fd_delete(&peer.ctx->sock);
}
BENCHMARK(BM_BusCallsInFlight)->Arg(100)->Arg(10000)->UseRealTime();

// The same request and reply sizes as the bus call, echoed over a socket pair
// by a thread.
void BM_RawSocketPingPong(benchmark::State &state)
{
	int sv[2];
	if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) < 0) {
		state.SkipWithError("socketpair failed");
		return;
	}
	constexpr size_t kRequest = 68, kReply = 56;
	std::thread peer([fd = sv[1]] {
		char buf[kRequest];
		while (recv(fd, buf, sizeof(buf), MSG_WAITALL) == static_cast<ssize_t>(kRequest))
			if (send(fd, buf, kReply, MSG_NOSIGNAL) != static_cast<ssize_t>(kReply))
				break;
	});
	char msg[kRequest] = {};
	char reply[kReply];
	for (auto _ : state) {
		if (send(sv[0], msg, sizeof(msg), MSG_NOSIGNAL) != static_cast<ssize_t>(kRequest) ||
		    recv(sv[0], reply, sizeof(reply), MSG_WAITALL) != static_cast<ssize_t>(kReply)) {
			state.SkipWithError("ping-pong failed");
			break;
		}
	}
	state.SetItemsProcessed(state.iterations());
	shutdown(sv[0], SHUT_RDWR);
	peer.join();
	close(sv[0]);
	close(sv[1]);
}
BENCHMARK(BM_RawSocketPingPong)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
	char dir[] = "/tmp/wlc-bench-XXXXXX";
	if (!mkdtemp(dir))
		return 1;
	g_socket = std::string(dir) + "/ubus.sock";
	pid_t daemon = spawn({BENCH_UBUSD, "-s", g_socket});
	struct stat st;
	for (int i = 0; i < 200 && stat(g_socket.c_str(), &st) != 0; i++)
		usleep(10000);
	pid_t service = fork();
	if (service == 0)
		bench::run_echo_service(g_socket);
	ubus_context *probe = ubus_connect(g_socket.c_str());
	uint32_t id;
	for (int i = 0; i < 200 && probe && ubus_lookup_id(probe, "bench", &id) != 0; i++)
		usleep(10000);
	ubus_free(probe);

	benchmark::Initialize(&argc, argv);
	bench::RatioReporter reporter;
	double daemon_cpu = cpu_seconds(daemon);
	benchmark::RunSpecifiedBenchmarks(&reporter);
	daemon_cpu = cpu_seconds(daemon) - daemon_cpu;
	double bus = reporter.ns("BM_BusCallRoundTrip/real_time");
	double raw = reporter.ns("BM_RawSocketPingPong/real_time");
	double calls = static_cast<double>(g_calls);
	if (bus > 0 && raw > 0)
		std::printf("bus call round trip / raw socket ping-pong: %.2f (%.0f ns vs %.0f ns; %.0f calls/s; "
			    "target: at most 1.5)\n", bus / raw, bus, raw, 1e9 / bus);
	double few = reporter.ns("BM_BusCallsInFlight/100/real_time") / 100;
	double many = reporter.ns("BM_BusCallsInFlight/10000/real_time") / 10000;
	if (few > 0 && many > 0)
		std::printf("bus call in a burst of 10,000 / in a burst of 100, per call: %.2f (%.0f ns vs %.0f ns; "
			    "target: about 1)\n", many / few, many, few);
	// Every call passes the daemon twice (the invoke, then the reply and its status).
	if (calls > 0)
		std::printf("bus daemon CPU per call: %.1f us (%.2f s over %.0f calls)\n", daemon_cpu * 1e6 / calls,
			    daemon_cpu, calls);

	kill(service, SIGTERM);
	kill(daemon, SIGTERM);
	waitpid(service, nullptr, 0);
	waitpid(daemon, nullptr, 0);
	rmdir(dir);
	benchmark::Shutdown();
	return 0;
}
