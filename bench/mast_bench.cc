// mast in the controller role against the broker alone, in one run:
//  - bridge "send": ubus call to subscriber delivery, against a direct publish;
//  - request_response through mast with a client answering as the AP, against
//    a bare MQTT request/reply between two clients;
//  - 10,000 APs' JOIN_REQ and ONLINE messages into "db.ap", none lost.
// Runs in a network namespace of its own (root): the controller's broker port is fixed.
#include <wlc/c/blobmsg_json.h>
#include <wlc/c/ubus.h>
#include <mosquitto.h>
#include <wlc/bus.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <net/if.h>
#include <sched.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include "support.h"

namespace {

using bench::private_network;
using bench::spawn;

using Clock = std::chrono::steady_clock;

std::string g_root;
std::string g_socket;
std::atomic<uint64_t> g_db_sets{0};

using Client = bench::MqttClient;

void BM_BridgeSendToSubscriber(benchmark::State &state)
{
	Client sub("bench-sub");
	sub.subscribe("zev/wlc/bench/send");
	ubus_context *ctx = ubus_connect(g_socket.c_str());
	uint32_t id = 0;
	if (!ctx || ubus_lookup_id(ctx, "mqtt.wlc", &id) != 0) {
		state.SkipWithError("mqtt.wlc not available");
		return;
	}
	blob_buf b = {};
	blob_buf_init(&b, 0);
	blobmsg_add_json_from_string(&b, R"({"path":"zev/wlc/bench/send","message":{"n":1}})");
	uint64_t n = 0;
	for (auto _ : state) {
		ubus_invoke(ctx, id, "send", b.head, nullptr, nullptr, 1000);
		if (!sub.wait_for(++n)) {
			state.SkipWithError("lost a publication");
			break;
		}
	}
	state.SetItemsProcessed(state.iterations());
	blob_buf_free(&b);
	ubus_free(ctx);
}
BENCHMARK(BM_BridgeSendToSubscriber)->UseRealTime();

void BM_DirectPublishToSubscriber(benchmark::State &state)
{
	Client sub("bench-sub2");
	sub.subscribe("zev/wlc/bench/direct");
	Client pub("bench-pub");
	auto payload = bench::encode_json(R"({"n":1})");
	uint64_t n = 0;
	for (auto _ : state) {
		mosquitto_publish(pub.m, nullptr, "zev/wlc/bench/direct", static_cast<int>(payload.size()), payload.data(), 0, false);
		if (!sub.wait_for(++n)) {
			state.SkipWithError("lost a publication");
			break;
		}
	}
	state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DirectPublishToSubscriber)->UseRealTime();

void BM_RequestResponseThroughMast(benchmark::State &state)
{
	Client ap("bench-ap");
	bench::answer_requests(ap);
	ap.subscribe("zev/wlc/telemetry/ap/+/request/+");
	ubus_context *ctx = ubus_connect(g_socket.c_str());
	uint32_t id = 0;
	if (!ctx || ubus_lookup_id(ctx, "mqtt.wlc", &id) != 0) {
		state.SkipWithError("mqtt.wlc not available");
		return;
	}
	blob_buf b = {};
	blob_buf_init(&b, 0);
	blobmsg_add_json_from_string(&b, R"({"ap_id":"ap1","command":"ubus","qos":2,"data":{"object":"vigil","method":"health"}})");
	for (auto _ : state) {
		if (ubus_invoke(ctx, id, "request_response", b.head, nullptr, nullptr, 3000) != 0) {
			state.SkipWithError("request failed");
			break;
		}
	}
	state.SetItemsProcessed(state.iterations());
	blob_buf_free(&b);
	ubus_free(ctx);
}
BENCHMARK(BM_RequestResponseThroughMast)->UseRealTime();

void BM_BareMqttRequestReply(benchmark::State &state)
{
	Client ap("bench-ap2");
	bench::answer_requests(ap);
	ap.subscribe("bench/ap/+/request/+");
	Client ctl("bench-ctl");
	ctl.subscribe("bench/ap/+/response/+");
	auto req = bench::encode_json(R"({"msg_id":1,"data":{"object":"vigil","method":"health"}})");
	uint64_t n = 0;
	for (auto _ : state) {
		mosquitto_publish(ctl.m, nullptr, "bench/ap/ap1/request/ubus", static_cast<int>(req.size()), req.data(), 2, false);
		if (!ctl.wait_for(++n)) {
			state.SkipWithError("no reply");
			break;
		}
	}
	state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareMqttRequestReply)->UseRealTime();

// 10,000 APs join and report online through 100 connections; every message
// must reach "db.ap".
void BM_JoinsAndPresenceOf10000Aps(benchmark::State &state)
{
	constexpr int kAps = 10000, kConnections = 100;
	for (auto _ : state) {
		uint64_t start_sets = g_db_sets.load();
		auto t0 = Clock::now();
		std::vector<std::unique_ptr<Client>> clients;
		for (int c = 0; c < kConnections; c++)
			clients.push_back(std::make_unique<Client>(("ap-conn-" + std::to_string(c)).c_str()));
		for (int i = 0; i < kAps; i++) {
			std::string ap = "ap" + std::to_string(i);
			auto join = bench::encode_json(R"({"fw_version":"1.0","fw_revision":"r1","model":"zev-ap1","serial":"SN)" +
					   std::to_string(i) + R"(","cert":"PEM"})");
			auto online = bench::encode_json(R"({"online":true,"model":"zev-ap1"})");
			mosquitto *m = clients[static_cast<size_t>(i % kConnections)]->m;
			mosquitto_publish(m, nullptr, ("zev/wlc/control/ap/" + ap + "/join_request").c_str(),
					  static_cast<int>(join.size()), join.data(), 2, false);
			mosquitto_publish(m, nullptr, ("zev/wlc/control/ap/" + ap + "/online").c_str(),
					  static_cast<int>(online.size()), online.data(), 2, true);
		}
		auto deadline = Clock::now() + std::chrono::seconds(120);
		while (g_db_sets.load() - start_sets < 2 * kAps && Clock::now() < deadline)
			usleep(10000);
		double secs = std::chrono::duration<double>(Clock::now() - t0).count();
		uint64_t got = g_db_sets.load() - start_sets;
		state.SetIterationTime(secs);
		state.counters["messages"] = static_cast<double>(got);
		state.counters["lost"] = static_cast<double>(2 * kAps - static_cast<int64_t>(got));
		state.counters["msgs_per_s"] = static_cast<double>(got) / secs;
	}
}
BENCHMARK(BM_JoinsAndPresenceOf10000Aps)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// --- the world around mast ------------------------------------------------------

// The AP database stand-in, counting "set" calls, on its own thread and loop.
void run_database(std::atomic<bool> &ready)
{
	uloop_init();
	wlc::Bus bus;
	if (!bus.connect(g_socket)) {
		ready = true;
		return;
	}
	bus.watch();
	wlc::BusObject db("db.ap", {{"set", {}, [](wlc::Request &, blob_attr *) {
					     g_db_sets++;
					     return UBUS_STATUS_OK;
				     }}});
	db.add(bus);
	ready = true;
	uloop_run();
}

} // namespace

int main(int argc, char **argv)
{
	if (!private_network()) {
		std::fprintf(stderr, "mast_bench needs root (a network namespace of its own for port 1883)\n");
		return 1;
	}
	char dir[] = "/tmp/wlc-mast-bench-XXXXXX";
	g_root = mkdtemp(dir);
	g_socket = g_root + "/var/run/ubus/ubus.sock";
	std::string conf = g_root + "/mosquitto.conf";
	FILE *f = std::fopen(conf.c_str(), "w");
	std::fprintf(f, "listener 1883 127.0.0.1\nallow_anonymous true\npersistence false\nuser root\nlog_dest none\n"
			"max_queued_messages 100000\nset_tcp_nodelay true\n");
	std::fclose(f);
	mkdir((g_root + "/usr").c_str(), 0755);
	mkdir((g_root + "/usr/bin").c_str(), 0755);
	f = std::fopen((g_root + "/usr/bin/wlc_init").c_str(), "w");
	std::fprintf(f, "#!/bin/sh\nexit 0\n");
	std::fclose(f);
	chmod((g_root + "/usr/bin/wlc_init").c_str(), 0755);
	pid_t broker = spawn({"mosquitto", "-c", conf});
	pid_t ubusd = spawn({BENCH_UBUSD, "-s", g_socket});
	struct stat st;
	for (int i = 0; i < 200 && stat(g_socket.c_str(), &st) != 0; i++)
		usleep(10000);
	std::atomic<bool> ready{false};
	std::thread db(run_database, std::ref(ready));
	while (!ready)
		usleep(1000);
	pid_t mast = spawn({BENCH_MAST, "-r", "wlc"}, {"WLC_ROOT=" + g_root, "PATH=" + g_root + "/usr/bin:/usr/bin:/bin"});
	ubus_context *probe = ubus_connect(g_socket.c_str());
	uint32_t id;
	for (int i = 0; i < 500 && probe && ubus_lookup_id(probe, "mqtt.wlc", &id) != 0; i++)
		usleep(10000);
	ubus_free(probe);

	mosquitto_lib_init();
	benchmark::Initialize(&argc, argv);
	benchmark::RunSpecifiedBenchmarks();
	benchmark::Shutdown();

	kill(mast, SIGTERM);
	waitpid(mast, nullptr, 0);
	kill(ubusd, SIGTERM);
	kill(broker, SIGTERM);
	waitpid(ubusd, nullptr, 0);
	waitpid(broker, nullptr, 0);
	std::_Exit(0); // the database thread's loop ends with the process
}
