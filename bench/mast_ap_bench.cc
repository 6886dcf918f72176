// mast on an access point against the real controller (mast -r wlc) and the
// broker, each measured against the broker alone in the same run:
//  - from the start of mast -r ap until it is adopted (join over TLS, agent
//    connection pinned to the saved certificate, VERSION), against one TLS
//    connect-and-subscribe with a client certificate;
//  - a telemetry request/response through both masts (controller bus, broker,
//    AP, the AP's bus and back), against a bare MQTT request/reply;
//  - log lines streamed from the AP's log service to the controller's "log",
//    against mosquitto_pub -l (TLS) to mosquitto_sub of the same lines.
// The ratios are printed at the end. Runs in a network namespace of its own
// (root): the broker's ports are fixed.
#include <wlc/c/blobmsg_json.h>
#include <wlc/c/ubus.h>
#include <wlc/bus.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support.h"

namespace {

using bench::MqttClient;
using bench::spawn;
using bench::stop;
using Clock = std::chrono::steady_clock;

constexpr int kLogLines = 10000;

std::string g_root;         // the controller's device root, with the broker's files
std::string g_ap;           // the AP's device root
std::string g_ctl_socket;   // the controller's bus
std::string g_ap_socket;    // the AP's bus
bench::TlsFiles g_tls;      // the AP's client certificate
std::string g_ap_id;        // learnt from its join request
std::atomic<uint64_t> g_log_adds{0};
std::atomic<int> g_log_fd{-1}; // our end of the AP's log stream
pid_t g_adopted_ap = -1;    // the AP that stays adopted for the later benchmarks

// Mean seconds of each benchmark, for the ratios.
double g_adopt_s = 0, g_tls_s = 0, g_telemetry_s = 0, g_bare_s = 0, g_log_lps = 0, g_cli_lps = 0;

std::string log_line(int i)
{
	char text[96];
	std::snprintf(text, sizeof(text), "bench log line %06d: the quick brown fox jumps over the lazy dog", i);
	return text;
}

bool wait_file(const std::string &path)
{
	struct stat st;
	for (int i = 0; i < 1000; i++) {
		if (stat(path.c_str(), &st) == 0)
			return true;
		usleep(10000);
	}
	return false;
}

// --- the AP ------------------------------------------------------------------

// The "mast" object's status on the AP's bus ("" while there is none).
std::string ap_status(ubus_context *ctx)
{
	uint32_t id;
	if (ubus_lookup_id(ctx, "mast", &id) != 0)
		return "";
	std::string status;
	blob_buf b = {};
	blob_buf_init(&b, 0);
	ubus_invoke(ctx, id, "status", b.head, [](ubus_request *req, int, blob_attr *msg) {
		static const blobmsg_policy p = {"status", BLOBMSG_TYPE_STRING};
		blob_attr *tb = nullptr;
		blobmsg_parse(&p, 1, &tb, blob_data(msg), static_cast<unsigned int>(blob_len(msg)));
		if (tb)
			*static_cast<std::string *>(req->priv) = blobmsg_get_string(tb);
	}, &status, 1000);
	blob_buf_free(&b);
	return status;
}

pid_t start_ap()
{
	for (const char *f : {"/etc/wlc/mqtt_ca.crt", "/etc/wlc/wlc_addr", "/etc/wlc/wizard_skip"})
		unlink((g_ap + f).c_str());
	std::string path = g_ap + "/usr/sbin:" + g_ap + "/usr/bin:" + g_ap + "/sbin:" + g_ap + "/bin";
	return spawn({BENCH_MAST, "-r", "ap", "-h", "127.0.0.1:8883"}, {"WLC_ROOT=" + g_ap, "PATH=" + path});
}

bool wait_adopted(ubus_context *ctx, std::chrono::seconds limit)
{
	auto end = Clock::now() + limit;
	while (Clock::now() < end) {
		if (ap_status(ctx) == "adopted")
			return true;
		usleep(1000);
	}
	return false;
}

// Plays the controller's services: approves every join, keeps the VERSION
// that matches the AP's firmware retained.
struct Services {
	MqttClient client{"bench-services"};
	Services()
	{
		client.on_msg = [this](const mosquitto_message *msg) {
			std::string topic = msg->topic;
			std::string prefix = "zev/wlc/control/ap/";
			g_ap_id = topic.substr(prefix.size(), topic.find('/', prefix.size()) - prefix.size());
			mosquitto_publish(client.m, nullptr, (prefix + g_ap_id + "/join_response").c_str(), 0, nullptr, 2, false);
		};
		client.subscribe("zev/wlc/control/ap/+/join_request", 2);
		auto version = bench::encode_json(R"({"version":"23.05.2","revision":"r42-abc"})");
		mosquitto_publish(client.m, nullptr, "zev/wlc/firmware/version", static_cast<int>(version.size()),
				  version.data(), 2, true);
	}
};

void BM_ApStartToAdopted(benchmark::State &state)
{
	ubus_context *ctx = ubus_connect(g_ap_socket.c_str());
	if (!ctx) {
		state.SkipWithError("no AP bus");
		return;
	}
	double total = 0;
	for (auto _ : state) {
		auto t0 = Clock::now();
		pid_t ap = start_ap();
		bool ok = wait_adopted(ctx, std::chrono::seconds(60));
		double secs = std::chrono::duration<double>(Clock::now() - t0).count();
		stop(ap);
		if (!ok) {
			state.SkipWithError("the AP was not adopted");
			break;
		}
		state.SetIterationTime(secs);
		total += secs;
	}
	g_adopt_s = total / static_cast<double>(state.iterations());
	ubus_free(ctx);
}
BENCHMARK(BM_ApStartToAdopted)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_BareTlsConnectAndSubscribe(benchmark::State &state)
{
	double total = 0;
	for (auto _ : state) {
		auto t0 = Clock::now();
		mosquitto *m = mosquitto_new("bench-tls", true, nullptr);
		std::atomic<bool> acked{false};
		mosquitto_user_data_set(m, &acked);
		mosquitto_subscribe_callback_set(m, [](mosquitto *, void *done, int, int, const int *) {
			*static_cast<std::atomic<bool> *>(done) = true;
		});
		mosquitto_tls_set(m, g_tls.ca.c_str(), nullptr, g_tls.cert.c_str(), g_tls.key.c_str(), nullptr);
		mosquitto_tls_insecure_set(m, true);
		bool ok = mosquitto_connect(m, "127.0.0.1", 8883, 5) == MOSQ_ERR_SUCCESS &&
			  mosquitto_subscribe(m, nullptr, "zev/wlc/firmware/version", 2) == MOSQ_ERR_SUCCESS;
		while (ok && !acked)
			ok = mosquitto_loop(m, 1000, 1) == MOSQ_ERR_SUCCESS;
		double secs = std::chrono::duration<double>(Clock::now() - t0).count();
		mosquitto_disconnect(m);
		mosquitto_destroy(m);
		if (!ok) {
			state.SkipWithError("TLS connection failed");
			break;
		}
		state.SetIterationTime(secs);
		total += secs;
	}
	g_tls_s = total / static_cast<double>(state.iterations());
}
BENCHMARK(BM_BareTlsConnectAndSubscribe)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

// An AP that stays adopted for the telemetry and log benchmarks.
bool adopted_ap()
{
	if (g_adopted_ap > 0)
		return true;
	ubus_context *ctx = ubus_connect(g_ap_socket.c_str());
	if (!ctx)
		return false;
	g_adopted_ap = start_ap();
	bool ok = wait_adopted(ctx, std::chrono::seconds(60));
	ubus_free(ctx);
	return ok;
}

void BM_TelemetryThroughBothMasts(benchmark::State &state)
{
	ubus_context *ctx = ubus_connect(g_ctl_socket.c_str());
	uint32_t id = 0;
	if (!adopted_ap() || !ctx || ubus_lookup_id(ctx, "mqtt.wlc", &id) != 0) {
		state.SkipWithError("no adopted AP or no mqtt.wlc");
		return;
	}
	blob_buf b = {};
	blob_buf_init(&b, 0);
	blobmsg_add_json_from_string(&b, (R"({"ap_id":")" + g_ap_id +
					  R"(","command":"ubus","qos":2,"data":{"object":"bench","method":"echo","message":{"n":1}}})").c_str());
	auto t0 = Clock::now();
	for (auto _ : state) {
		if (ubus_invoke(ctx, id, "request_response", b.head, nullptr, nullptr, 3000) != 0) {
			state.SkipWithError("request failed");
			break;
		}
	}
	g_telemetry_s = std::chrono::duration<double>(Clock::now() - t0).count() / static_cast<double>(state.iterations());
	state.SetItemsProcessed(state.iterations());
	blob_buf_free(&b);
	ubus_free(ctx);
}
BENCHMARK(BM_TelemetryThroughBothMasts)->UseRealTime();

void BM_BareMqttRequestReply(benchmark::State &state)
{
	MqttClient ap("bench-ap2", 8883, &g_tls);
	bench::answer_requests(ap);
	ap.subscribe("bench/ap/+/request/+", 2);
	MqttClient ctl("bench-ctl");
	ctl.subscribe("bench/ap/+/response/+", 2);
	auto req = bench::encode_json(R"({"msg_id":1,"data":{"object":"bench","method":"echo","message":{"n":1}}})");
	uint64_t n = 0;
	auto t0 = Clock::now();
	for (auto _ : state) {
		mosquitto_publish(ctl.m, nullptr, "bench/ap/ap1/request/ubus", static_cast<int>(req.size()), req.data(), 2, false);
		if (!ctl.wait_for(++n)) {
			state.SkipWithError("no reply");
			break;
		}
	}
	g_bare_s = std::chrono::duration<double>(Clock::now() - t0).count() / static_cast<double>(state.iterations());
	state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareMqttRequestReply)->UseRealTime();

// The AP's log service writes kLogLines entries at once into the stream.
void BM_LogLinesFromApToController(benchmark::State &state)
{
	if (!adopted_ap()) {
		state.SkipWithError("no adopted AP");
		return;
	}
	for (int i = 0; i < 1000 && g_log_fd < 0; i++)
		usleep(10000);
	std::string bytes;
	for (int i = 0; i < kLogLines; i++) {
		wlc::BlobBuf entry;
		entry.add("msg", log_line(i)).add_u32("id", static_cast<uint32_t>(i)).add_u32("priority", 6).add_u32("source", 0);
		entry.add_u64("time", 0);
		bytes.append(reinterpret_cast<const char *>(entry.head()), blob_raw_len(entry.head()));
	}
	double lines = 0, secs = 0;
	for (auto _ : state) {
		uint64_t before = g_log_adds;
		auto t0 = Clock::now();
		for (size_t at = 0; at < bytes.size();) {
			ssize_t n = send(g_log_fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
			if (n <= 0)
				break;
			at += static_cast<size_t>(n);
		}
		auto end = Clock::now() + std::chrono::seconds(60);
		while (g_log_adds - before < kLogLines && Clock::now() < end)
			usleep(200);
		double s = std::chrono::duration<double>(Clock::now() - t0).count();
		state.SetIterationTime(s);
		lines += static_cast<double>(g_log_adds - before);
		secs += s;
	}
	g_log_lps = lines / secs;
	state.counters["lines_per_s"] = g_log_lps;
	state.counters["lost"] = static_cast<double>(kLogLines) * static_cast<double>(state.iterations()) - lines;
}
BENCHMARK(BM_LogLinesFromApToController)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// The same lines with mosquitto_pub -l (TLS, as the AP) to mosquitto_sub
// (plain, as the controller), QoS 0 as the log stream; the time includes
// mosquitto_pub's start and TLS connection.
void BM_SameLinesThroughMosquittoPubSub(benchmark::State &state)
{
	std::string lines = g_root + "/lines.txt";
	FILE *f = std::fopen(lines.c_str(), "w");
	for (int i = 0; i < kLogLines; i++)
		std::fprintf(f, "%s\n", log_line(i).c_str());
	std::fclose(f);
	// A retained line on a second topic tells that the subscriber's
	// subscriptions are in place.
	if (std::system("mosquitto_pub -h 127.0.0.1 -p 1883 -t bench/ready -r -m ready") != 0) {
		state.SkipWithError("mosquitto_pub failed");
		return;
	}
	double total = 0, secs = 0;
	for (auto _ : state) {
		// Line-buffered, so that the ready line shows at once; gives up after 60 s.
		std::string sub = "stdbuf -oL mosquitto_sub -h 127.0.0.1 -p 1883 -t bench/ready -t bench/log -q 0 -W 60 -C " +
				  std::to_string(kLogLines + 1);
		FILE *out = popen(sub.c_str(), "r");
		char buf[512];
		while (std::fgets(buf, sizeof(buf), out) && std::strcmp(buf, "ready\n") != 0) {
		}
		auto t0 = Clock::now();
		std::string pub = "mosquitto_pub -h 127.0.0.1 -p 8883 --cafile " + g_tls.ca + " --cert " + g_tls.cert +
				  " --key " + g_tls.key + " --insecure -t bench/log -q 0 -l < " + lines;
		int rc = std::system(pub.c_str());
		size_t got = 0;
		while (std::fgets(buf, sizeof(buf), out))
			got += std::strncmp(buf, "bench log line", 14) == 0;
		pclose(out);
		double s = std::chrono::duration<double>(Clock::now() - t0).count();
		if (rc != 0) {
			std::fprintf(stderr, "mosquitto_pub: status %d\n", rc);
			state.SkipWithError("mosquitto_pub failed");
			break;
		}
		state.SetIterationTime(s);
		total += static_cast<double>(got);
		secs += s;
	}
	g_cli_lps = total / secs;
	state.counters["lines_per_s"] = g_cli_lps;
	state.counters["lost"] = static_cast<double>(kLogLines) * static_cast<double>(state.iterations()) - total;
}
BENCHMARK(BM_SameLinesThroughMosquittoPubSub)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// --- the world around the masts --------------------------------------------------

// The controller's "db.ap" and "log" and the AP's "log" and "bench" echo,
// served on one loop in a thread of their own.
void run_services(std::atomic<bool> &ready)
{
	// The benchmarks wait for their own children (mosquitto_pub, mast):
	// the loop must not reap them.
	uloop_handle_sigchld = false;
	uloop_init();
	wlc::Bus ctl, ap;
	if (!ctl.connect(g_ctl_socket) || !ap.connect(g_ap_socket)) {
		ready = true;
		return;
	}
	ctl.watch();
	ap.watch();
	wlc::BusObject db("db.ap", {{"set", {}, [](wlc::Request &, blob_attr *) { return UBUS_STATUS_OK; }}});
	wlc::BusObject log("log", {{"add", {}, [](wlc::Request &, blob_attr *) {
					    g_log_adds++;
					    return UBUS_STATUS_OK;
				    }}});
	wlc::BusObject ap_log("log", {{"read", {}, [](wlc::Request &req, blob_attr *) {
					       int sv[2];
					       if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) < 0)
						       return UBUS_STATUS_UNKNOWN_ERROR;
					       int old = g_log_fd.exchange(sv[0]);
					       if (old >= 0)
						       close(old);
					       req.set_fd(sv[1]);
					       return UBUS_STATUS_OK;
				       }}});
	wlc::BusObject echo("bench", {{"echo", {}, [](wlc::Request &req, blob_attr *msg) {
					    wlc::BlobBuf reply;
					    reply.add_fields(msg);
					    req.reply(reply);
					    return UBUS_STATUS_OK;
				    }}});
	db.add(ctl);
	log.add(ctl);
	ap_log.add(ap);
	echo.add(ap);
	ready = true;
	uloop_run();
}

void write_file(const std::string &path, const std::string &text, mode_t mode = 0644)
{
	std::string dir = path.substr(0, path.rfind('/'));
	std::string mk = "mkdir -p " + dir;
	if (std::system(mk.c_str()) != 0)
		return;
	FILE *f = std::fopen(path.c_str(), "w");
	std::fputs(text.c_str(), f);
	std::fclose(f);
	chmod(path.c_str(), mode);
}

bool make_pki()
{
	std::string pki = g_root + "/pki";
	std::string script = "set -e; mkdir -p " + pki + "; cd " + pki +
			     "; openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 2 -subj /CN=bench-ca"
			     " 2>/dev/null; for n in server client; do openssl req -new -newkey rsa:2048 -nodes -keyout $n.key"
			     " -out $n.csr -subj /CN=bench-$n 2>/dev/null; done;"
			     " printf 'subjectAltName=IP:127.0.0.1\\n' > server.ext; printf 'extendedKeyUsage=clientAuth\\n' > client.ext;"
			     " for n in server client; do openssl x509 -req -in $n.csr -CA ca.crt -CAkey ca.key -CAcreateserial"
			     " -out $n.crt -days 2 -extfile $n.ext 2>/dev/null; done";
	g_tls = {pki + "/ca.crt", pki + "/client.crt", pki + "/client.key"};
	return std::system(script.c_str()) == 0;
}

// Broker (plain 1883, TLS 8883 with client certificates), simulator, both
// buses, the services thread and the controller.
std::vector<pid_t> start_world()
{
	std::vector<pid_t> pids;
	std::string pki = g_root + "/pki";
	write_file(g_root + "/mosquitto.conf",
		   "per_listener_settings true\npersistence false\nuser root\nlog_dest none\nmax_queued_messages 100000\n"
		   "set_tcp_nodelay true\nlistener 1883 127.0.0.1\nallow_anonymous true\nlistener 8883 127.0.0.1\n"
		   "allow_anonymous true\ncafile " + pki + "/ca.crt\ncertfile " + pki + "/server.crt\nkeyfile " + pki +
		   "/server.key\nrequire_certificate true\n");
	pids.push_back(spawn({"mosquitto", "-c", g_root + "/mosquitto.conf"}));
	write_file(g_root + "/site.json", R"({"devices": [{"name": "ap1", "root": ")" + g_ap +
						  R"(", "revision": "r42-abc", "release": "23.05.2"}], "hear": []})");
	pids.push_back(spawn({BENCH_SIM, "-c", g_root + "/control.sock", g_root + "/site.json"}));
	wait_file(g_ap + "/var/run/zev-sim/events.sock");
	write_file(g_ap + "/data/ssl/mqtt.crt", "");
	std::string copy = "cp " + g_tls.cert + " " + g_ap + "/data/ssl/mqtt.crt && cp " + g_tls.key + " " + g_ap +
			   "/data/ssl/mqtt.key && sh " + BENCH_SOURCE_DIR + "/sim/tools/platform-stubs.sh " + g_ap;
	if (std::system(copy.c_str()) != 0)
		std::fprintf(stderr, "mast_ap_bench: the AP's files could not be made\n");
	write_file(g_ap + "/tmp/running.config", R"({"ssid":"office"})");
	write_file(g_ap + "/proc/sys/kernel/hostname", "ap-one\n");
	write_file(g_root + "/usr/bin/wlc_init", "#!/bin/sh\nexit 0\n", 0755);
	for (const std::string &s : {g_ctl_socket, g_ap_socket}) {
		write_file(s.substr(0, s.rfind('/')) + "/.keep", "");
		pids.push_back(spawn({BENCH_UBUSD, "-s", s}));
		wait_file(s);
	}
	return pids;
}

} // namespace

int main(int argc, char **argv)
{
	if (!bench::private_network()) {
		std::fprintf(stderr, "mast_ap_bench needs root (a network namespace of its own for ports 1883 and 8883)\n");
		return 1;
	}
	char dir[] = "/tmp/wlc-mast-ap-bench-XXXXXX";
	g_root = mkdtemp(dir);
	g_ap = g_root + "/ap1";
	g_ctl_socket = g_root + "/var/run/ubus/ubus.sock";
	g_ap_socket = g_ap + "/var/run/ubus/ubus.sock";
	if (!make_pki()) {
		std::fprintf(stderr, "mast_ap_bench: openssl could not make the certificates\n");
		return 1;
	}
	std::vector<pid_t> pids = start_world();
	std::atomic<bool> ready{false};
	std::thread services_thread(run_services, std::ref(ready));
	while (!ready)
		usleep(1000);
	pid_t controller = spawn({BENCH_MAST, "-r", "wlc"},
				 {"WLC_ROOT=" + g_root, "PATH=" + g_root + "/usr/bin:/usr/bin:/bin"});
	ubus_context *probe = ubus_connect(g_ctl_socket.c_str());
	uint32_t id;
	for (int i = 0; i < 500 && probe && ubus_lookup_id(probe, "mqtt.wlc", &id) != 0; i++)
		usleep(10000);
	ubus_free(probe);

	mosquitto_lib_init();
	int status = 0;
	{
		Services services;
		benchmark::Initialize(&argc, argv);
		benchmark::RunSpecifiedBenchmarks();
		benchmark::Shutdown();
		stop(g_adopted_ap);
	}
	if (g_adopt_s > 0 && g_tls_s > 0)
		std::printf("start to adopted: %.1f ms; TLS connect and subscribe alone: %.1f ms; ratio %.1f\n",
			    g_adopt_s * 1e3, g_tls_s * 1e3, g_adopt_s / g_tls_s);
	if (g_telemetry_s > 0 && g_bare_s > 0)
		std::printf("telemetry through both masts: %.1f us; bare MQTT request/reply: %.1f us; ratio %.2f\n",
			    g_telemetry_s * 1e6, g_bare_s * 1e6, g_telemetry_s / g_bare_s);
	if (g_log_lps > 0 && g_cli_lps > 0)
		std::printf("log lines AP to controller: %.0f/s; mosquitto_pub to mosquitto_sub: %.0f/s; ratio %.2f\n",
			    g_log_lps, g_cli_lps, g_log_lps / g_cli_lps);
	else
		status = 1;
	stop(controller);
	for (auto it = pids.rbegin(); it != pids.rend(); ++it)
		stop(*it);
	std::string rm = "rm -rf " + g_root;
	if (std::system(rm.c_str()) != 0)
		status = 1;
	std::fflush(stdout);
	std::_Exit(status); // the services thread's loop ends with the process
}
