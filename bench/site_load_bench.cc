// The controller side under the load of a whole site: the real broker, the
// real `mast -r wlc -m site1 ...` with a "db.ap" stand-in, and the real
// rrm_ctrl (one per site and radio, as its init script starts them), with
// 10,000 simulated APs that join, report online (retained), send their three
// RRM reports per agent cycle, and answer request_response_batch calls while
// the reports flow: the management service's poll of every AP in calls that
// fit the bus, and one call to all of them, which cannot.
//
// The APs are simulated by this process: a few MQTT connections (the broker
// asks nothing more of an AP than a client allowed to publish its topics)
// publish on behalf of many AP ids, and one of them answers the requests that
// mast publishes to the APs, as each AP's mast would. No AP daemon runs.
//
// Prints what was sent and what arrived (lost messages), the batches'
// completion times, and the CPU time and peak memory of mast and rrm_ctrl
// (and, for comparison, of the broker and the bus daemon) from /proc, with
// mast's and the broker's CPU per 1,000 APs.
//   site_load_bench [--aps N] [--sites N] [--cycles N] [--cycle-seconds S] [--join-seconds S]
//                   [--connections N] [--batch N] [--log FILE] [--per-ap] [--acl] [--help]
// --sites spreads the APs over that many sites (site1, site2, ...), each with
// its own rrm_ctrl; --batch is the number of APs per poll call (1,000).
// --per-ap gives every AP an MQTT session of its own (its identifier as user
// name); --acl (which implies it) runs the broker with the site's access
// lists, so that comparing the two shows what the lists cost.
// Runs in a network namespace of its own (root): the controller's broker port is fixed.
#include <wlc/c/blobmsg_json.h>
#include <wlc/c/ubus.h>
#include <mosquitto.h>
#include <wlc/bus.h>

#include <fsroot/fsroot.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "ap_sessions.h"
#include "common/codec.h"
#include "ctrl/store.h"
#include "support.h"

namespace {

using Clock = std::chrono::steady_clock;
using bench::spawn;
using bench::stop;

struct Settings {
	size_t aps = 10000;
	size_t sites = 1;
	size_t batch = 1000; // APs per poll call
	size_t cycles = 1;
	double cycle_s = 60; // the agents' default cadence: three reports per cycle
	double join_s = 0;   // --join-seconds: the joins spread over this long (0: all at once)
	size_t connections = 50;
	std::string keep_log;  // --log: where the daemons' log is copied at the end
	bool per_ap = false; // an MQTT session per AP
	bool acl = false;    // the site's access lists on the broker
};

std::string g_root;
std::string g_socket;

// What the "db.ap" stand-in saw.
struct Database {
	std::mutex mu;
	std::set<std::string> joined, online;
	uint64_t sets = 0;
} g_db;

using Bytes = std::vector<uint8_t>;

Bytes bytes_of(const wlc::BlobBuf &b)
{
	auto *p = reinterpret_cast<const uint8_t *>(b.head());
	return Bytes(p, p + blob_raw_len(b.head()));
}

Bytes encode_json(const std::string &json)
{
	wlc::BlobBuf b;
	blobmsg_add_json_from_string(b.raw(), json.c_str());
	return bytes_of(b);
}

std::string ap_id(size_t i)
{
	char buf[24];
	std::snprintf(buf, sizeof buf, "ap-%05zu", i);
	return buf;
}

// The APs are dealt over the sites in turn.
std::string site_name(size_t k)
{
	return "site" + std::to_string(k + 1);
}

std::string site_of(const Settings &s, size_t ap)
{
	return site_name(ap % s.sites);
}

// QoS 1 and 2 messages in flight each way on one broker connection: the
// broker's default, which is also libmosquitto's.
constexpr int broker_inflight = 20;

// One MQTT connection of the simulated APs, with its own network thread.
class Connection {
public:
	using OnMessage = std::function<void(const mosquitto_message *)>;

	Connection(const std::string &id, OnMessage on_msg = nullptr, const std::string &user = "") : on_msg_(std::move(on_msg))
	{
		m_ = mosquitto_new(id.c_str(), true, this);
		if (!user.empty())
			mosquitto_username_pw_set(m_, user.c_str(), nullptr);
		mosquitto_int_option(m_, MOSQ_OPT_TCP_NODELAY, 1);
		// The broker's in-flight window (it drops a client that sends beyond it).
		mosquitto_max_inflight_messages_set(m_, broker_inflight);
		mosquitto_message_callback_set(m_, [](mosquitto *, void *self, const mosquitto_message *msg) {
			auto *c = static_cast<Connection *>(self);
			if (c->on_msg_)
				c->on_msg_(msg);
		});
		mosquitto_subscribe_callback_set(m_, [](mosquitto *, void *self, int, int, const int *) {
			static_cast<Connection *>(self)->subscribed_ = true;
		});
		for (int i = 0; i < 100 && mosquitto_connect(m_, "127.0.0.1", 1883, 60) != MOSQ_ERR_SUCCESS; i++)
			usleep(50000);
		mosquitto_loop_start(m_);
	}
	~Connection()
	{
		mosquitto_disconnect(m_);
		mosquitto_loop_stop(m_, true);
		mosquitto_destroy(m_);
	}
	Connection(const Connection &) = delete;
	Connection &operator=(const Connection &) = delete;

	bool publish(const std::string &topic, const Bytes &payload, int qos, bool retain)
	{
		return mosquitto_publish(m_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos,
					 retain) == MOSQ_ERR_SUCCESS;
	}
	// Subscribes and waits for the broker's acknowledgement.
	bool subscribe(const std::string &filter, int qos)
	{
		subscribed_ = false;
		if (mosquitto_subscribe(m_, nullptr, filter.c_str(), qos) != MOSQ_ERR_SUCCESS)
			return false;
		for (int i = 0; i < 1000 && !subscribed_; i++)
			usleep(10000);
		return subscribed_;
	}

private:
	mosquitto *m_ = nullptr;
	OnMessage on_msg_;
	std::atomic<bool> subscribed_{false};
};

// The typical reports of one agent cycle: three channels, 30 BSSs, 10 stations.
struct Reports {
	Bytes channels, bss, radio;
};

Reports agent_reports()
{
	Reports r;
	wlc::BlobBuf ch, bss, radio;
	rrm::encode_channels(ch, {{0, 100, 1, 30, 1, 1, 1, 1, 1}, {0, 100, 6, 30, 1, 1, 1, 1, 1}, {0, 100, 11, 30, 1, 1, 1, 1, 1}});
	rrm::BssList list;
	for (size_t i = 0; i < 30; i++) {
		zev_wifi_bss e{};
		std::snprintf(e.ssid, sizeof e.ssid, "network-%zu", i);
		e.bssid[0] = 2, e.bssid[4] = 1, e.bssid[5] = static_cast<uint8_t>(i + 1);
		e.channel = static_cast<uint32_t>(1 + 5 * (i % 3));
		e.rssi = -50 - static_cast<int>(i);
		e.bw = 20;
		list.push_back(e);
	}
	rrm::encode_bss(bss, list);
	rrm::RadioReport rr{6, 20, std::vector<zev_wifi_sta>(10), {{2, 9, 0, 0, 0, 1}}};
	for (size_t i = 0; i < rr.stations.size(); i++)
		rr.stations[i].mac[0] = 2, rr.stations[i].mac[5] = static_cast<uint8_t>(i + 1);
	rrm::encode_radio(radio, rr);
	return {bytes_of(ch), bytes_of(bss), bytes_of(radio)};
}

// The simulated APs: their connections and what they sent.
class Swarm {
public:
	explicit Swarm(const Settings &s) : s_(s)
	{
		if (s.per_ap) {
			// Each AP answers its own requests on its own session.
			std::vector<std::string> ids;
			for (size_t i = 0; i < s.aps; i++)
				ids.push_back(ap_id(i));
			sessions_ = std::make_unique<bench::ApSessions>(
				ids, 1883, "zev/wlc/telemetry/ap/%s/request/+",
				[this](size_t, const mosquitto_message *m) { answer(m); });
			return;
		}
		for (size_t c = 0; c < s.connections; c++)
			conns_.push_back(std::make_unique<Connection>("sim-aps-" + std::to_string(c)));
		// Answers requests as each AP's mast does: {msg_id, data, code} on the
		// response topic, retained, QoS 2, from the AP's own connection.
		responder_ = std::make_unique<Connection>("sim-aps-requests", [this](const mosquitto_message *m) { answer(m); });
	}

	bool listen_for_requests()
	{
		if (sessions_)
			return sessions_->ready(std::chrono::seconds(300));
		return responder_->subscribe("zev/wlc/telemetry/ap/+/request/+", 2);
	}
	void publish(size_t i, const std::string &topic, const Bytes &payload, int qos, bool retain)
	{
		if (sessions_)
			sessions_->post(i, topic, payload, qos, retain);
		else
			conns_[i % conns_.size()]->publish(topic, payload, qos, retain);
	}

	// Every AP joins and reports online, all at once or spread evenly over
	// the join time, paced by the clock.
	void join_all()
	{
		Bytes online = encode_json(R"({"online":true,"fw_version":"1.0","fw_revision":"r1","model":"zev-ap1"})");
		auto start = Clock::now();
		for (size_t i = 0; i < s_.aps; i++) {
			if (s_.join_s > 0 && i % 100 == 0)
				std::this_thread::sleep_until(
					start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
							s_.join_s * static_cast<double>(i) / static_cast<double>(s_.aps))));
			std::string id = ap_id(i);
			Bytes join = encode_json(R"({"fw_version":"1.0","fw_revision":"r1","model":"zev-ap1","serial":"SN)" +
						 std::to_string(i) + R"(","cert":"PEM","ip":"10.1.0.1","mac":"02:00:00:00:00:01"})");
			publish(i, "zev/wlc/control/ap/" + id + "/join_request", join, 2, false);
			publish(i, "zev/wlc/control/ap/" + id + "/online", online, 2, true);
		}
	}

	// Every AP sends its three reports once per cycle, the APs spread evenly
	// over the cycle, paced by the clock; runs until the cycles are done.
	void report_cycles(std::atomic<uint64_t> &sent)
	{
		Reports r = agent_reports();
		auto start = Clock::now();
		double gap = s_.cycle_s / static_cast<double>(s_.aps);
		for (size_t n = 0; n < s_.aps * s_.cycles; n++) {
			std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
								      std::chrono::duration<double>(gap * static_cast<double>(n))));
			size_t i = n % s_.aps;
			std::string base = "zev/wlc/rrm/" + site_of(s_, i) + "/ap/" + ap_id(i) + "/1/report/";
			publish(i, base + "channels", r.channels, 1, false);
			publish(i, base + "bss", r.bss, 1, false);
			publish(i, base + "radio", r.radio, 1, false);
			sent += 3;
		}
	}

	std::atomic<uint64_t> requests{0};

private:
	void answer(const mosquitto_message *m)
	{
		requests++;
		std::vector<uint32_t> aligned(static_cast<size_t>(m->payloadlen) / 4 + 2);
		std::memcpy(aligned.data(), m->payload, static_cast<size_t>(m->payloadlen));
		auto *attr = reinterpret_cast<blob_attr *>(aligned.data());
		static const blobmsg_policy p = {"msg_id", BLOBMSG_TYPE_INT32};
		blob_attr *tb = nullptr;
		blobmsg_parse(&p, 1, &tb, blob_data(attr), static_cast<unsigned int>(blob_len(attr)));
		std::string topic = m->topic;
		size_t at = topic.find("/request/");
		if (!tb || at == std::string::npos)
			return;
		const size_t prefix = std::strlen("zev/wlc/telemetry/ap/");
		if (at < prefix)
			return;
		std::string id = topic.substr(prefix, at - prefix);
		// A short answer (as of "version"): 10,000 of them must fit one bus message.
		Bytes reply = encode_json("{\"msg_id\":" + std::to_string(blobmsg_get_u32(tb)) +
					  R"(,"data":{"fw_version":"1.0","fw_revision":"r1"},"code":0})");
		topic.replace(at, 9, "/response/");
		size_t i = std::strtoul(id.c_str() + 3, nullptr, 10);
		publish(i, topic, reply, 2, true);
	}

	const Settings &s_;
	std::vector<std::unique_ptr<Connection>> conns_;
	std::unique_ptr<Connection> responder_;
	std::unique_ptr<bench::ApSessions> sessions_;
};

// The AP database stand-in, on its own thread and loop: records joins and presence.
void run_database(std::atomic<bool> &ready)
{
	uloop_init();
	wlc::Bus bus;
	if (!bus.connect(g_socket)) {
		ready = true;
		return;
	}
	bus.watch();
	wlc::BusObject db("db.ap", {{"set", {}, [](wlc::Request &, blob_attr *msg) {
					     wlc::Fields<3> f;
					     static const std::array<blobmsg_policy, 3> p = {{{"id", BLOBMSG_TYPE_STRING},
											       {"join_req", BLOBMSG_TYPE_BOOL},
											       {"online", BLOBMSG_TYPE_BOOL}}};
					     if (!f.parse(p, msg) || !f.str(0))
						     return UBUS_STATUS_INVALID_ARGUMENT;
					     std::lock_guard<std::mutex> l(g_db.mu);
					     g_db.sets++;
					     if (f.has(1))
						     g_db.joined.emplace(*f.str(0));
					     if (f.boolean(2).value_or(false))
						     g_db.online.emplace(*f.str(0));
					     return UBUS_STATUS_OK;
				     }}});
	db.add(bus);
	ready = true;
	uloop_run();
}

// CPU seconds and peak resident memory of a process, from /proc.
struct Usage {
	double cpu_s = 0;
	long peak_kib = 0;
};

Usage usage_of(pid_t pid)
{
	Usage u;
	std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
	std::string line;
	std::getline(stat, line);
	size_t close = line.rfind(')');
	if (close != std::string::npos) {
		std::istringstream rest(line.substr(close + 2));
		std::string field;
		unsigned long long utime = 0, stime = 0;
		for (int n = 3; rest >> field && n <= 15; n++) {
			if (n == 14)
				utime = std::stoull(field);
			if (n == 15)
				stime = std::stoull(field);
		}
		u.cpu_s = static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
	}
	std::ifstream status("/proc/" + std::to_string(pid) + "/status");
	while (std::getline(status, line))
		if (line.rfind("VmHWM:", 0) == 0)
			u.peak_kib = std::stol(line.substr(6));
	return u;
}

template <typename Pred>
bool wait_until(Pred done, std::chrono::seconds limit)
{
	auto end = Clock::now() + limit;
	while (!done()) {
		if (Clock::now() > end)
			return false;
		usleep(10000);
	}
	return true;
}

struct BatchResult {
	int status = -1;
	size_t answered = 0;
	double seconds = 0;
};

// One request_response_batch to the APs [first, last), as a controller service calls it.
BatchResult call_batch(ubus_context *ctx, uint32_t bridge, size_t first, size_t last, int timeout_ms)
{
	BatchResult r;
	wlc::BlobBuf b;
	{
		auto ids = b.array("ap_id");
		for (size_t i = first; i < last; i++)
			b.add(nullptr, ap_id(i));
	}
	b.add("command", "ubus");
	b.add_u32("qos", 2);
	b.add_u32("timeout", static_cast<uint32_t>(timeout_ms));
	{
		auto data = b.table("data");
		b.add("object", "vigil");
		b.add("method", "version");
	}
	auto t0 = Clock::now();
	r.status = ubus_invoke(
		ctx, bridge, "request_response_batch", b.head(),
		[](ubus_request *req, int, blob_attr *msg) {
			auto *n = static_cast<size_t *>(req->priv);
			blob_attr *pos;
			size_t rem;
			blob_for_each_attr(pos, msg, rem)(*n)++;
		},
		&r.answered, timeout_ms + 30000);
	r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
	return r;
}

// call_batch to the bridge; when the bridge's object is gone (mast
// re-registers "mqtt.wlc" after it reconnects to the broker) it is looked up
// again and the call made once more: only a call that fails again is lost.
struct LookupCount {
	std::atomic<size_t> made{0}, missing{0}; // missing: "mqtt.wlc" was not on the bus
};

BatchResult call_batch_again(ubus_context *ctx, uint32_t &bridge, size_t first, size_t last, int timeout_ms,
			     LookupCount &lookups)
{
	BatchResult r = call_batch(ctx, bridge, first, last, timeout_ms);
	if (r.status != UBUS_STATUS_NOT_FOUND)
		return r;
	lookups.made++;
	if (ubus_lookup_id(ctx, "mqtt.wlc", &bridge) != 0) {
		lookups.missing++;
		return r;
	}
	double failed_s = r.seconds;
	r = call_batch(ctx, bridge, first, last, timeout_ms);
	r.seconds += failed_s;
	return r;
}

struct PollResult {
	size_t calls = 0, failed = 0, answered = 0;
	size_t lookups = 0;   // "mqtt.wlc" looked up again after NOT_FOUND
	size_t missing = 0;   // of them, found no object
	int last_failure = 0; // the status of a failed call
	double seconds = 0;
	uint64_t requests = 0; // that reached the APs
	BatchResult all;       // the one call to every AP
	uint64_t all_requests = 0;
};

// The management service's poll: every AP, s.batch of them per call, a few
// calls outstanding at once, each on a bus connection of its own.
void run_poll(const Settings &s, int timeout_ms, PollResult &p)
{
	constexpr size_t callers = 4;
	std::atomic<size_t> next{0}, calls{0}, failed{0}, answered{0};
	LookupCount lookups;
	std::atomic<int> last_failure{0};
	auto t0 = Clock::now();
	std::vector<std::thread> threads;
	for (size_t t = 0; t < callers; t++)
		threads.emplace_back([&] {
			ubus_context *ctx = ubus_connect(g_socket.c_str());
			uint32_t bridge = 0;
			if (!ctx || ubus_lookup_id(ctx, "mqtt.wlc", &bridge) != 0) {
				failed++;
				if (ctx)
					ubus_free(ctx);
				return;
			}
			for (size_t first; (first = next.fetch_add(s.batch)) < s.aps;) {
				BatchResult r =
					call_batch_again(ctx, bridge, first, std::min(first + s.batch, s.aps), timeout_ms, lookups);
				calls++;
				answered += r.answered;
				if (r.status != 0) {
					failed++;
					last_failure = r.status;
				}
			}
			ubus_free(ctx);
		});
	for (std::thread &t : threads)
		t.join();
	p.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
	p.calls = calls, p.failed = failed, p.answered = answered, p.last_failure = last_failure;
	p.lookups = lookups.made, p.missing = lookups.missing;
}

// One call to every AP at once: more than one bus message can answer once the site is large.
BatchResult call_all(const Settings &s, int timeout_ms, PollResult &p)
{
	ubus_context *ctx = ubus_connect(g_socket.c_str());
	uint32_t bridge = 0;
	BatchResult r;
	LookupCount lookups;
	if (ctx && ubus_lookup_id(ctx, "mqtt.wlc", &bridge) == 0)
		r = call_batch_again(ctx, bridge, 0, s.aps, timeout_ms, lookups);
	p.lookups += lookups.made, p.missing += lookups.missing;
	if (ctx)
		ubus_free(ctx);
	return r;
}

// The store directory of site k's rrm_ctrl, as /etc/init.d/rrm_ctrl gives it:
// the radio's own directory for one site, one of each site's with more.
std::string store_dir(const Settings &s, size_t k)
{
	return s.sites > 1 ? rrm::site_store_dir(site_name(k), 1) : rrm::default_store_dir(1);
}

// Reports the rrm_ctrl processes keep, read back from their files after they
// stopped: each site's APs from that site's store only.
uint64_t stored_reports(const Settings &s)
{
	uint64_t n = 0;
	for (size_t k = 0; k < s.sites; k++) {
		rrm::ReportStore store(store_dir(s, k), 16, [] { return static_cast<int64_t>(time(nullptr)); });
		store.load();
		for (size_t i = k; i < s.aps; i += s.sites)
			if (const auto *ap = store.find(ap_id(i)))
				for (const auto &h : ap->histories)
					n += h ? h->count() : 0;
	}
	return n;
}

Settings parse(int argc, char **argv)
{
	Settings s;
	for (int i = 1; i < argc; i++) {
		std::string o = argv[i];
		if (o == "--help" || o == "-h") {
			std::printf("site_load_bench [--aps N] [--sites N] [--cycles N] [--cycle-seconds S] [--join-seconds S]\n"
				    "                [--connections N] [--batch N] [--log FILE] [--per-ap] [--acl]\n"
				    "  --aps N            simulated APs (%zu)\n"
				    "  --sites N          sites the APs are dealt over, one rrm_ctrl each (%zu)\n"
				    "  --cycles N         agent report cycles, 1..16 (%zu); the poll runs half-way through the last\n"
				    "  --cycle-seconds S  length of one agent cycle (%.0f)\n"
				    "  --join-seconds S   the APs' joins spread evenly over S seconds (0: all at once)\n"
				    "  --connections N    MQTT connections the APs share (%zu)\n"
				    "  --batch N          APs per request_response_batch call of the poll (%zu)\n"
				    "  --log FILE         copy the daemons' log there at the end, the broker's to FILE.broker\n"
				    "  --per-ap           an MQTT session per AP; --acl also runs the broker with the access lists\n",
				    s.aps, s.sites, s.cycles, s.cycle_s, s.connections, s.batch);
			std::exit(0);
		}
		if (o == "--per-ap" || o == "--acl") {
			s.per_ap = true;
			s.acl = s.acl || o == "--acl";
			continue;
		}
		if (i + 1 >= argc)
			break;
		double v = std::atof(argv[i + 1]);
		if (o == "--aps")
			s.aps = static_cast<size_t>(v);
		else if (o == "--sites")
			s.sites = std::max<size_t>(static_cast<size_t>(v), 1);
		else if (o == "--log")
			s.keep_log = argv[i + 1];
		else if (o == "--batch")
			s.batch = std::max<size_t>(static_cast<size_t>(v), 1);
		else if (o == "--cycles")
			s.cycles = std::clamp<size_t>(static_cast<size_t>(v), 1, 16);
		else if (o == "--cycle-seconds")
			s.cycle_s = v;
		else if (o == "--join-seconds")
			s.join_s = std::max(v, 0.0);
		else if (o == "--connections")
			s.connections = std::max<size_t>(static_cast<size_t>(v), 1);
		i++;
	}
	return s;
}

struct Daemons {
	pid_t broker = -1, ubusd = -1, mast = -1;
	std::vector<pid_t> ctrls; // one per site
};

void write_file(const std::string &path, const std::string &text, mode_t mode)
{
	std::ofstream(path) << text;
	chmod(path.c_str(), mode);
}

// The site's access lists, for the APs and for the controller's user "wlc",
// in the one list of a single listener.
std::string access_lists()
{
	std::string acl;
	for (const char *name : {"/ap.acl", "/controller.acl"}) {
		std::ifstream in(std::string(BENCH_ACL_DIR) + name);
		acl += std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) + "\n";
	}
	return acl;
}

Daemons start_daemons(const Settings &s)
{
	Daemons d;
	std::filesystem::create_directories(g_root + "/usr/bin");
	std::filesystem::create_directories(g_root + "/var/run/ubus");
	// A queue big enough that the broker itself drops nothing of a 10,000-AP
	// burst. The in-flight window stays bounded: the broker looks each
	// acknowledgement up along its client's in-flight list, so an unbounded
	// window costs it time in the square of the backlog.
	write_file(g_root + "/mosquitto.conf",
		   "listener 1883 127.0.0.1\nallow_anonymous true\npersistence false\nuser root\nlog_dest file " + g_root +
			   "/broker.log\nlog_type error\nlog_type warning\nlog_type notice\n"
		   "max_queued_messages 0\nmax_inflight_messages " + std::to_string(broker_inflight) + "\nset_tcp_nodelay true\n" +
			   (s.acl ? "acl_file " + g_root + "/site.acl\n" : std::string()),
		   0644);
	if (s.acl)
		write_file(g_root + "/site.acl", access_lists(), 0644);
	write_file(g_root + "/usr/bin/wlc_init", "#!/bin/sh\nexit 0\n", 0755);
	d.broker = spawn({"mosquitto", "-c", g_root + "/mosquitto.conf"});
	d.ubusd = spawn({BENCH_UBUSD, "-s", g_socket});
	struct stat st;
	for (int i = 0; i < 500 && stat(g_socket.c_str(), &st) != 0; i++)
		usleep(10000);
	std::vector<std::string> env = {"WLC_ROOT=" + g_root, "PATH=" + g_root + "/usr/bin:/usr/bin:/bin",
					"WLC_LOG_FILE=" + g_root + "/daemons.log"};
	std::vector<std::string> mast = {BENCH_MAST, "-r", "wlc", "-u", "wlc"};
	for (size_t k = 0; k < s.sites; k++)
		mast.insert(mast.end(), {"-m", site_name(k)});
	d.mast = spawn(mast, env);
	for (size_t k = 0; k < s.sites; k++) {
		std::vector<std::string> ctrl = {BENCH_RRM_CTRL, "-p", "pol", "-s", site_name(k), "-b", "1", "-c", "1", "-c", "6",
						 "-c", "11", "-w", "20", "-n", "medium", "-r", "graceful", "-l", "10", "-h", "20"};
		if (s.sites > 1)
			ctrl.insert(ctrl.end(), {"-d", store_dir(s, k)});
		d.ctrls.push_back(spawn(ctrl, env));
	}
	return d;
}

void stop_all(Daemons &d)
{
	for (pid_t &p : d.ctrls)
		stop(p);
	for (pid_t *p : {&d.mast, &d.ubusd, &d.broker})
		stop(*p);
}

void remove_root(const Settings &s)
{
	std::error_code ec;
	if (!s.keep_log.empty())
		for (const auto &[from, to] : {std::pair{"/daemons.log", ""}, std::pair{"/broker.log", ".broker"}})
			std::filesystem::copy_file(g_root + from, s.keep_log + to,
						   std::filesystem::copy_options::overwrite_existing, ec);
	std::filesystem::remove_all(g_root, ec);
}

// aps > 0 adds the share of one core per 1,000 APs.
void print_usage(const char *name, Usage u, double wall_s, size_t aps = 0)
{
	std::printf("  %-9s CPU %7.2f s (%5.1f %% of one core over %.0f s", name, u.cpu_s, 100 * u.cpu_s / wall_s, wall_s);
	if (aps > 0)
		std::printf(", %.2f %% per 1,000 APs", 100 * u.cpu_s / wall_s / (static_cast<double>(aps) / 1000));
	std::printf("), peak memory %6.1f MiB\n", static_cast<double>(u.peak_kib) / 1024);
}

// Waits for mast's and every rrm_ctrl's objects, and for mast's
// subscriptions: a probe AP's join reaches "db.ap" once they are in place.
bool controller_ready(const Settings &s)
{
	ubus_context *ctx = ubus_connect(g_socket.c_str());
	uint32_t id;
	size_t up_to = 0; // rrm_ctrl objects seen
	bool up = wait_until([&] {
		while (ctx && up_to < s.sites && ubus_lookup_id(ctx, ("rrm_ctrl." + site_name(up_to) + ".1").c_str(), &id) == 0)
			up_to++;
		return ctx && up_to == s.sites && ubus_lookup_id(ctx, "mqtt.wlc", &id) == 0;
	}, std::chrono::seconds(60));
	if (ctx)
		ubus_free(ctx);
	if (!up)
		return false;
	Connection probe("probe", nullptr, "probe");
	Bytes join = encode_json(R"({"fw_version":"1","fw_revision":"1","model":"m","serial":"s","cert":"c"})");
	bool subscribed = wait_until([&] {
		probe.publish("zev/wlc/control/ap/probe/join_request", join, 1, false);
		usleep(100000);
		std::lock_guard<std::mutex> l(g_db.mu);
		return g_db.joined.count("probe") > 0;
	}, std::chrono::seconds(30));
	if (!subscribed)
		std::fprintf(stderr, "no join of a probe AP reached \"db.ap\"\n");
	return subscribed;
}

struct Results {
	size_t joined = 0, online = 0;
	size_t joined_at_end = 0, online_at_end = 0; // what had come by the end of the run
	double join_s = 0;
	uint64_t reports_sent = 0, reports_kept = 0;
	PollResult poll;
	double wall_s = 0;
	Usage mast, ctrl, broker, ubusd, self;
	long ctrl_peak_max_kib = 0; // the largest of the rrm_ctrl processes
};

void join_phase(const Settings &s, Swarm &swarm, Results &r)
{
	auto t0 = Clock::now();
	swarm.join_all();
	wait_until([&] {
		std::lock_guard<std::mutex> l(g_db.mu);
		return g_db.joined.size() >= s.aps + 1 && g_db.online.size() >= s.aps;
	}, std::chrono::seconds(300));
	r.join_s = std::chrono::duration<double>(Clock::now() - t0).count();
	std::lock_guard<std::mutex> l(g_db.mu);
	r.joined = g_db.joined.size() - 1; // the probe
	r.online = g_db.online.size();
}

// Reports at the agents' cadence; half-way through the last cycle the poll
// of every AP, then one call to all APs at once.
void report_phase(const Settings &s, Swarm &swarm, Results &r)
{
	std::atomic<uint64_t> sent{0};
	std::thread reporter([&] { swarm.report_cycles(sent); });
	std::this_thread::sleep_for(std::chrono::duration<double>(s.cycle_s * (static_cast<double>(s.cycles) - 0.5)));
	run_poll(s, 60000, r.poll);
	r.poll.requests = swarm.requests;
	r.poll.all = call_all(s, 60000, r.poll);
	r.poll.all_requests = swarm.requests - r.poll.requests;
	reporter.join();
	r.reports_sent = sent;
	// A grace for the last reports in flight through the broker and mast.
	std::this_thread::sleep_for(std::chrono::seconds(3));
	std::lock_guard<std::mutex> l(g_db.mu);
	r.joined_at_end = g_db.joined.size() - 1;
	r.online_at_end = g_db.online.size();
}

void print_results(const Settings &s, const Results &r)
{
	std::printf("%zu simulated APs in %zu site(s) (one rrm_ctrl each) over %zu MQTT connections, %zu agent cycle(s) "
		    "of %.0f s, access lists %s, joins %s\n",
		    s.aps, s.sites, s.per_ap ? s.aps : s.connections, s.cycles, s.cycle_s, s.acl ? "on" : "off",
		    s.join_s > 0 ? ("spread over " + std::to_string(static_cast<int>(s.join_s)) + " s").c_str() : "all at once");
	std::printf("joins:    %zu of %zu in \"db.ap\", online %zu of %zu, in %.1f s; lost %lld\n", r.joined, s.aps,
		    r.online, s.aps, r.join_s, static_cast<long long>(2 * s.aps) - static_cast<long long>(r.joined + r.online));
	if (r.joined_at_end + r.online_at_end > r.joined + r.online)
		std::printf("          by the end of the run: %zu joined, %zu online; lost %lld\n", r.joined_at_end,
			    r.online_at_end,
			    static_cast<long long>(2 * s.aps) - static_cast<long long>(r.joined_at_end + r.online_at_end));
	std::printf("reports:  sent %llu (%.0f/s), kept by rrm_ctrl %llu; lost %lld\n",
		    static_cast<unsigned long long>(r.reports_sent), 3 * static_cast<double>(s.aps) / s.cycle_s,
		    static_cast<unsigned long long>(r.reports_kept),
		    static_cast<long long>(r.reports_sent) - static_cast<long long>(r.reports_kept));
	const PollResult &p = r.poll;
	std::printf("poll:     request_response_batch of up to %zu APs, %zu calls (%zu failed, status %d; \"mqtt.wlc\" "
		    "looked up again %zu times, %zu found none), %zu answers from %zu APs, %llu requests reached the APs, in %.2f s; lost %lld\n",
		    s.batch, p.calls, p.failed, p.last_failure, p.lookups, p.missing, p.answered, s.aps,
		    static_cast<unsigned long long>(p.requests), p.seconds,
		    static_cast<long long>(s.aps) - static_cast<long long>(p.answered));
	std::printf("one call: request_response_batch to all %zu APs: status %d, %zu answers in the reply, %llu requests "
		    "reached the APs, completed in %.2f s\n",
		    s.aps, p.all.status, p.all.answered, static_cast<unsigned long long>(p.all_requests), p.all.seconds);
	std::printf("controller CPU and memory (from /proc):\n");
	print_usage("mast", r.mast, r.wall_s, s.aps);
	print_usage("rrm_ctrl", r.ctrl, r.wall_s);
	if (s.sites > 1)
		std::printf("  (rrm_ctrl: %zu processes, CPU and peak memory summed; the largest peaked at %.1f MiB)\n", s.sites,
			    static_cast<double>(r.ctrl_peak_max_kib) / 1024);
	print_usage("mosquitto", r.broker, r.wall_s, s.aps);
	print_usage("ubusd", r.ubusd, r.wall_s);
	print_usage("(APs sim)", r.self, r.wall_s);
}

} // namespace

int main(int argc, char **argv)
{
	Settings s = parse(argc, argv);
	if (!bench::private_network()) {
		std::fprintf(stderr, "site_load_bench needs root (a network namespace of its own for port 1883)\n");
		return 1;
	}
	// A session per AP takes three descriptors here (libmosquitto's wake-up
	// pair and the socket): as many as the hard limit allows.
	rlimit files{};
	getrlimit(RLIMIT_NOFILE, &files);
	files.rlim_cur = files.rlim_max;
	setrlimit(RLIMIT_NOFILE, &files);
	if (s.per_ap && 3 * s.aps + 100 > files.rlim_cur) {
		std::fprintf(stderr, "%zu sessions need about %zu descriptors; the limit is %llu\n", s.aps, 3 * s.aps + 100,
			     static_cast<unsigned long long>(files.rlim_cur));
		return 1;
	}
	char dir[] = "/tmp/wlc-site-load-XXXXXX";
	g_root = mkdtemp(dir);
	g_socket = g_root + "/var/run/ubus/ubus.sock";
	setenv("WLC_ROOT", g_root.c_str(), 1);
	wlc::reload_fs_root();
	mosquitto_lib_init();
	Daemons d = start_daemons(s);
	std::atomic<bool> db_ready{false};
	std::thread(run_database, std::ref(db_ready)).detach();
	while (!db_ready)
		usleep(1000);
	auto t_start = Clock::now();
	// Before the swarm's sessions: libmosquitto's own network thread cannot
	// watch a descriptor numbered past FD_SETSIZE.
	bool ready = controller_ready(s);
	Swarm swarm(s);
	if (!ready || !swarm.listen_for_requests()) {
		std::fprintf(stderr, "mast, rrm_ctrl or mast's subscriptions did not come up\n");
		stop_all(d);
		remove_root(s);
		return 1;
	}
	Results r;
	join_phase(s, swarm, r);
	report_phase(s, swarm, r);
	r.wall_s = std::chrono::duration<double>(Clock::now() - t_start).count();
	r.mast = usage_of(d.mast), r.broker = usage_of(d.broker), r.ubusd = usage_of(d.ubusd);
	for (pid_t c : d.ctrls) {
		Usage u = usage_of(c);
		r.ctrl.cpu_s += u.cpu_s;
		r.ctrl.peak_kib += u.peak_kib;
		r.ctrl_peak_max_kib = std::max(r.ctrl_peak_max_kib, u.peak_kib);
	}
	r.self = usage_of(getpid());
	for (pid_t &c : d.ctrls)
		stop(c);
	stop(d.mast);
	r.reports_kept = stored_reports(s);
	stop_all(d);
	remove_root(s);
	print_results(s, r);
	std::fflush(stdout);
	std::_Exit(0); // the database thread's loop ends with the process
}
