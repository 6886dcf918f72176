// Fast roaming against the broker alone, in one run:
//  - a station's join on ap1 (driver event) until ap2's driver holds its
//    PMK-R1: iapp on both APs, mast's bridge and relays (sim_ap_mqtt), the
//    simulated drivers, and three messages through the broker (sta_add,
//    key_get, key_set);
//  - the same three publish-to-delivery hops between bare MQTT clients, each
//    answering the previous message as the APs do, with the same topics,
//    QoS and payload sizes.
// The ratio of the two means is printed at the end.
// Runs in a network namespace of its own (root): the broker port is fixed.
#include <wlc/c/blobmsg_json.h>
#include <mosquitto.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <net/if.h>
#include <sched.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include "support.h"

namespace {

using bench::private_network;
using bench::encode_json;
using bench::spawn;

using Clock = std::chrono::steady_clock;

std::string g_root;
double g_roaming_mean = 0, g_broker_mean = 0;

// --- the simulated site --------------------------------------------------------

std::string sim_command(const std::string &line)
{
	int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_un addr = {};
	addr.sun_family = AF_UNIX;
	std::snprintf(addr.sun_path, sizeof(addr.sun_path), "%s/control.sock", g_root.c_str());
	std::string reply;
	if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0) {
		std::string msg = line + "\n";
		if (write(fd, msg.data(), msg.size()) == static_cast<ssize_t>(msg.size())) {
			char c;
			while (read(fd, &c, 1) == 1 && c != '\n')
				reply += c;
		}
	}
	close(fd);
	return reply;
}

std::string station(uint64_t n)
{
	char mac[18];
	std::snprintf(mac, sizeof(mac), "aa:bb:%02x:%02x:%02x:%02x", static_cast<unsigned>((n >> 24) & 0xff),
		      static_cast<unsigned>((n >> 16) & 0xff), static_cast<unsigned>((n >> 8) & 0xff),
		      static_cast<unsigned>(n & 0xff));
	return mac;
}

// Sees the key deliveries pass the broker: the bench waits for one before
// it asks ap2's driver for the key, instead of asking it over and over (on
// two cores such a loop, and the simulator answering it, take the time the
// daemons need).
struct KeyWatch;
KeyWatch *g_watch = nullptr;

uint64_t key_sets_seen();
bool wait_key_set(uint64_t after);

// Joins a station on ap1 and waits until ap2's ra0 holds its key; seconds, or
// a negative number when the key did not come within 5 s.
double join_to_key(uint64_t n)
{
	std::string sta = station(n);
	uint64_t seen = key_sets_seen();
	auto t0 = Clock::now();
	if (sim_command("sta add ap1 ra0 " + sta) != "ok")
		return -1;
	(void)wait_key_set(seen);
	while (sim_command("pmk show ap2 ra0 " + sta).rfind("ok ", 0) != 0) {
		if (Clock::now() - t0 > std::chrono::seconds(5))
			return -1;
	}
	double secs = std::chrono::duration<double>(Clock::now() - t0).count();
	(void)sim_command("sta del ap1 ra0 " + sta);
	return secs;
}

void BM_JoinOnAp1ToKeyOnAp2(benchmark::State &state)
{
	static uint64_t n = 1000;
	double total = 0;
	for (auto _ : state) {
		double secs = join_to_key(++n);
		if (secs < 0) {
			state.SkipWithError("the key did not arrive");
			return;
		}
		state.SetIterationTime(secs);
		total += secs;
	}
	g_roaming_mean = total / static_cast<double>(state.iterations());
}
BENCHMARK(BM_JoinOnAp1ToKeyOnAp2)->Iterations(300)->UseManualTime()->Unit(benchmark::kMicrosecond);

// --- the broker alone ----------------------------------------------------------

struct Client {
	mosquitto *m = nullptr;
	std::mutex mu;
	std::condition_variable cv;
	uint64_t received = 0;
	int subscribed = 0;
	std::function<void(const mosquitto_message *)> on_msg;

	explicit Client(const char *id)
	{
		m = mosquitto_new(id, true, this);
		mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
		mosquitto_message_callback_set(m, [](mosquitto *, void *self, const mosquitto_message *msg) {
			auto *c = static_cast<Client *>(self);
			if (c->on_msg)
				c->on_msg(msg);
			std::lock_guard<std::mutex> l(c->mu);
			c->received++;
			c->cv.notify_all();
		});
		mosquitto_subscribe_callback_set(m, [](mosquitto *, void *self, int, int, const int *) {
			auto *c = static_cast<Client *>(self);
			std::lock_guard<std::mutex> l(c->mu);
			c->subscribed++;
			c->cv.notify_all();
		});
		mosquitto_connect(m, "127.0.0.1", 1883, 60);
		mosquitto_loop_start(m);
	}
	~Client()
	{
		mosquitto_disconnect(m);
		mosquitto_loop_stop(m, true);
		mosquitto_destroy(m);
	}
	void subscribe(const char *filter)
	{
		int want;
		{
			std::lock_guard<std::mutex> l(mu);
			want = subscribed + 1;
		}
		mosquitto_subscribe(m, nullptr, filter, 2);
		std::unique_lock<std::mutex> l(mu);
		cv.wait_for(l, std::chrono::seconds(5), [&] { return subscribed >= want; });
	}
	bool wait_for(uint64_t n)
	{
		std::unique_lock<std::mutex> l(mu);
		return cv.wait_for(l, std::chrono::seconds(5), [&] { return received >= n; });
	}
};

struct KeyWatch {
	Client client{"bench-key-watch"};
	KeyWatch() { client.subscribe("zev/wlc/iapp/ap/+/key_set"); }
};

uint64_t key_sets_seen()
{
	if (!g_watch)
		return 0;
	std::lock_guard<std::mutex> l(g_watch->client.mu);
	return g_watch->client.received;
}

// Waits until a key delivery after the first `after` has passed the broker.
bool wait_key_set(uint64_t after)
{
	return g_watch && g_watch->client.wait_for(after + 1);
}

void BM_SameHopsThroughTheBrokerAlone(benchmark::State &state)
{
	Client ap1("bench-ap1"), ap2("bench-ap2");
	auto sta_add = encode_json(R"({"from":"ap1-a3-b4-c5","sta":"aa:bb:cc:00:00:01"})");
	auto key_get = encode_json(R"({"from":"ap1-a3-b4-d6","wlan":"office","sta":"aa:bb:cc:00:00:01","bssid":"02:11:22:a3:c4:d6"})");
	// key_set: the same fields with a key table of the same size (string members stand in for the binary ones).
	auto key_set = encode_json(R"({"from":"ap1-a3-b4-c5","wlan":"office","sta":"aa:bb:cc:00:00:01","bssid":"02:11:22:a3:c4:d6",
		"key":{"pmk_r0_id":"0123456789abcde","pmk_r0_kh_id":"ap1.r0k","pmk_r1_id":"0123456789abcde",
		"pmk_r1_key":"0123456789abcdef0123456789abcde","cipher":4,"akm":4,"lifetime":43200,"reassoc_timeout":1000}})");
	ap2.on_msg = [&](const mosquitto_message *msg) {
		if (std::strstr(msg->topic, "sta_add"))
			mosquitto_publish(ap2.m, nullptr, "zev/wlc/iapp/ap/ap1-a3-b4-c5/key_get", static_cast<int>(key_get.size()),
					  key_get.data(), 1, false);
	};
	ap1.on_msg = [&](const mosquitto_message *) {
		mosquitto_publish(ap1.m, nullptr, "zev/wlc/iapp/ap/ap1-a3-b4-d6/key_set", static_cast<int>(key_set.size()),
				  key_set.data(), 1, false);
	};
	ap2.subscribe("zev/wlc/iapp/md/hq/office/sta_add");
	ap2.subscribe("zev/wlc/iapp/ap/ap1-a3-b4-d6/key_set");
	ap1.subscribe("zev/wlc/iapp/ap/ap1-a3-b4-c5/key_get");
	uint64_t n = 0;
	double total = 0;
	for (auto _ : state) {
		auto t0 = Clock::now();
		mosquitto_publish(ap1.m, nullptr, "zev/wlc/iapp/md/hq/office/sta_add", static_cast<int>(sta_add.size()),
				  sta_add.data(), 1, false);
		n += 2; // the sta_add and the key_set
		if (!ap2.wait_for(n)) {
			state.SkipWithError("lost a message");
			return;
		}
		double secs = std::chrono::duration<double>(Clock::now() - t0).count();
		state.SetIterationTime(secs);
		total += secs;
	}
	g_broker_mean = total / static_cast<double>(state.iterations());
}
BENCHMARK(BM_SameHopsThroughTheBrokerAlone)->Iterations(300)->UseManualTime()->Unit(benchmark::kMicrosecond);

// --- the world -----------------------------------------------------------------

bool wait_file(const std::string &path)
{
	struct stat st;
	for (int i = 0; i < 500; i++) {
		if (stat(path.c_str(), &st) == 0)
			return true;
		usleep(10000);
	}
	return false;
}

// The site: simulator, broker, and on each AP its bus, sim_ap_mqtt and iapp.
std::vector<pid_t> start_site()
{
	std::string site = g_root + "/site.json";
	FILE *f = std::fopen(site.c_str(), "w");
	std::fprintf(f, R"({"devices": [{"name": "ap1", "root": "%s/ap1", "lan_mac": "00:11:22:a3:b4:c5"},
		{"name": "ap2", "root": "%s/ap2", "lan_mac": "00:11:22:a3:b4:d6"}], "hear": []})", g_root.c_str(), g_root.c_str());
	std::fclose(f);
	std::string conf = g_root + "/mosquitto.conf";
	f = std::fopen(conf.c_str(), "w");
	std::fprintf(f, "listener 1883 127.0.0.1\nallow_anonymous true\npersistence false\nuser root\nlog_dest none\n"
			"set_tcp_nodelay true\n");
	std::fclose(f);
	std::vector<pid_t> pids;
	pids.push_back(spawn({"mosquitto", "-c", conf}));
	pids.push_back(spawn({BENCH_SIM, "-c", g_root + "/control.sock", site}));
	wait_file(g_root + "/control.sock");
	for (const char *ap : {"ap1", "ap2"}) {
		std::string dev = g_root + "/" + ap;
		pids.push_back(spawn({BENCH_UBUSD, "-s", dev + "/var/run/ubus/ubus.sock"}));
		wait_file(dev + "/var/run/ubus/ubus.sock");
		std::vector<std::string> env = {"WLC_ROOT=" + dev};
		pids.push_back(spawn({BENCH_AP_MQTT, "-h", "127.0.0.1:1883", "-s", "hq", "-w", "office"}, env));
		pids.push_back(spawn({BENCH_IAPP, "-s", "hq", "-i", "ra0:1:office", "-i", "rai0:2:office"}, env));
	}
	return pids;
}

} // namespace

int main(int argc, char **argv)
{
	if (!private_network()) {
		std::fprintf(stderr, "iapp_bench needs root (a network namespace of its own for port 1883)\n");
		return 1;
	}
	char dir[] = "/tmp/wlc-iapp-bench-XXXXXX";
	g_root = mkdtemp(dir);
	std::vector<pid_t> pids = start_site();
	mosquitto_lib_init();
	// Ready when a first station's key has made the whole trip.
	bool ready = false;
	for (int i = 0; i < 100 && !ready; i++)
		ready = join_to_key(static_cast<uint64_t>(i)) >= 0;
	KeyWatch watch;
	g_watch = &watch;
	if (!ready)
		std::fprintf(stderr, "iapp_bench: the site did not come up\n");
	benchmark::Initialize(&argc, argv);
	if (ready)
		benchmark::RunSpecifiedBenchmarks();
	benchmark::Shutdown();
	if (g_roaming_mean > 0 && g_broker_mean > 0)
		std::printf("join on ap1 to key on ap2: %.1f us; the same hops through the broker alone: %.1f us; ratio %.2f "
			    "(target: at most 3)\n",
			    g_roaming_mean * 1e6, g_broker_mean * 1e6, g_roaming_mean / g_broker_mean);
	g_watch = nullptr;
	for (auto it = pids.rbegin(); it != pids.rend(); ++it) {
		kill(*it, SIGTERM);
		waitpid(*it, nullptr, 0);
	}
	std::string rm = "rm -rf " + g_root;
	return std::system(rm.c_str()) == 0 && ready ? 0 : 1;
}
