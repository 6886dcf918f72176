// fleetd's inventory at the size of a large installation, each figure
// against a baseline in the same run: 10,000 joins with their presence
// recorded (through the inventory's own code, and through "db.ap" on a real
// bus daemon to a running fleetd) against plain SQLite inserts of the same
// rows with the same durability (WAL, synchronous=FULL, one transaction per
// record); listing 50,000 APs and filtered look-ups against plain SELECTs of
// the same rows; and fleetd's memory while it holds 50,000 APs. Prints each
// figure with its target.
//   fleet_bench [--benchmark_filter=...]
#include <wlc/c/ubox.h>
#include <wlc/c/ubus.h>
#include <wlc/blob.h>

#include <benchmark/benchmark.h>
#include <fsroot/fsroot.h>
#include <sqlite3.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "approval/lifecycle.h"
#include "inventory/store.h"
#include "fleet_inventory.h"
#include "fleet_peers.h"
#include "ratio_reporter.h"
#include "support.h"

namespace {

using bench::cpu_seconds;
using fleetbench::status_kib;

constexpr size_t kInventoryAps = 50000;
constexpr size_t kJoins = 10000;
constexpr size_t kSites = 50;  // 1,000 APs each
constexpr size_t kModels = 5;  // 10,000 APs each

std::string g_dir, g_socket, g_plain;
std::unique_ptr<fleet::Inventory> g_inventory;
pid_t g_fleetd = -1;

std::string device_id(const char *prefix, size_t n)
{
	char buf[32];
	std::snprintf(buf, sizeof buf, "%s-%02zx-%02zx-%02zx", prefix, (n >> 16) & 0xff, (n >> 8) & 0xff, n & 0xff);
	return buf;
}

std::string mac_of(size_t n)
{
	char buf[24];
	std::snprintf(buf, sizeof buf, "02:00:00:%02zx:%02zx:%02zx", (n >> 16) & 0xff, (n >> 8) & 0xff, n & 0xff);
	return buf;
}

std::string site_of(size_t n)
{
	char buf[16];
	std::snprintf(buf, sizeof buf, "site-%02zu", n % kSites);
	return buf;
}

std::string model_of(size_t n)
{
	return "zev-ap" + std::to_string(1 + n % kModels);
}

// One AP in a hundred waits for approval, one is offline, the rest adopted.
const char *state_of(size_t n)
{
	return n % 100 == 0 ? "pending" : n % 100 == 1 ? "offline" : "adopted";
}

using fleetbench::kCert;

// An inventory of kInventoryAps APs at path, each with its first events.
bool make_inventory(const std::string &path)
{
	return fleetbench::write_inventory(path, kInventoryAps, [](size_t n) {
		return fleetbench::InventoryAp{device_id("ap", n), site_of(n), model_of(n), "SN" + std::to_string(n),
					       mac_of(n), "ap-" + std::to_string(n), state_of(n)};
	}, {"join", "approval", "adoption"});
}

fleet::JoinInfo join_of(size_t n)
{
	fleet::JoinInfo j{device_id("nw", n), kCert, "23.05.2", "r42-abc", model_of(n), "NSN" + std::to_string(n),
			  "10.1.0.2/24", mac_of(n + kInventoryAps), "new-" + std::to_string(n), "{\"ssid\":\"office\"}"};
	return j;
}

fleet::PresenceInfo presence_of(size_t n)
{
	fleet::PresenceInfo p;
	p.id = device_id("nw", n);
	p.fw_version = "23.05.2";
	p.fw_revision = "r42-abc";
	p.model = model_of(n);
	p.online = true;
	return p;
}

// Every AP of the inventory, as the operator object reads them.
void BM_ListAll(benchmark::State &state)
{
	size_t n = 0;
	for (auto _ : state)
		n = g_inventory->list({}).size();
	state.counters["aps"] = static_cast<double>(n);
}
BENCHMARK(BM_ListAll)->UseRealTime()->Unit(benchmark::kMillisecond);

// The listing's columns: ten texts and three numbers.
constexpr int kListedTexts = 10, kListedColumns = 13;

// Copies a row of the listing's columns out of a statement.
void copy_row(const fleet::Statement &s, std::vector<std::string> &texts, std::vector<int64_t> &numbers)
{
	for (int c = 0; c < kListedTexts; c++)
		texts.push_back(s.text(c));
	for (int c = kListedTexts; c < kListedColumns; c++)
		numbers.push_back(s.integer(c));
}

// The baseline: a plain SELECT of the same columns, each copied out.
void BM_PlainSelectAll(benchmark::State &state)
{
	fleet::Statement s(g_inventory->raw(), "SELECT id, site, model, serial, mac, fw_version, fw_revision, ip, "
					       "hostname, state, online, first_seen, last_seen FROM ap");
	size_t n = 0;
	for (auto _ : state) {
		std::vector<std::string> texts;
		std::vector<int64_t> numbers;
		texts.reserve((kInventoryAps + kJoins) * kListedTexts);
		numbers.reserve((kInventoryAps + kJoins) * (kListedColumns - kListedTexts));
		while (s.step() == SQLITE_ROW)
			copy_row(s, texts, numbers);
		s.reset();
		n = texts.size() / kListedTexts;
		benchmark::DoNotOptimize(texts.data());
	}
	state.counters["aps"] = static_cast<double>(n);
}
BENCHMARK(BM_PlainSelectAll)->UseRealTime()->Unit(benchmark::kMillisecond);

// Filtered look-ups an operator makes: one site's pending APs, one site's
// adopted ones, the first page of one model, one AP by identifier, and the
// pending APs of every site.
void BM_Lookup(benchmark::State &state)
{
	fleet::ApFilter f;
	switch (state.range(0)) {
	case 0:
		f.site = "site-07", f.state = fleet::ApState::pending;
		break;
	case 1:
		f.site = "site-07", f.state = fleet::ApState::adopted;
		break;
	case 2:
		f.model = "zev-ap3", f.limit = 500;
		break;
	case 4:
		f.state = fleet::ApState::pending;
		break;
	default:
		break;
	}
	size_t n = 0;
	for (auto _ : state) {
		if (state.range(0) == 3)
			n = g_inventory->find(device_id("ap", 31337)) ? 1 : 0;
		else { // as the operator's "list": the count, then the page
			benchmark::DoNotOptimize(g_inventory->count(f));
			n = g_inventory->list(f).size();
		}
	}
	state.counters["aps"] = static_cast<double>(n);
}
BENCHMARK(BM_Lookup)->DenseRange(0, 4)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The baseline of the look-ups: the same SELECTs with the rows' texts copied out.
void BM_PlainLookup(benchmark::State &state)
{
	const char *where = state.range(0) == 0   ? "site = 'site-07' AND state = 'pending'"
			    : state.range(0) == 1 ? "site = 'site-07' AND state = 'adopted'"
			    : state.range(0) == 2 ? "model = 'zev-ap3' ORDER BY id LIMIT 500"
			    : state.range(0) == 3 ? "id = 'ap-00-7a-69'"
						  : "state = 'pending' ORDER BY id";
	fleet::Statement s(g_inventory->raw(), std::string("SELECT id, site, model, serial, mac, fw_version, fw_revision, ip, "
							   "hostname, state, online, first_seen, last_seen FROM ap WHERE ") +
						       where);
	size_t n = 0;
	for (auto _ : state) {
		std::vector<std::string> texts;
		std::vector<int64_t> numbers;
		while (s.step() == SQLITE_ROW)
			copy_row(s, texts, numbers);
		s.reset();
		n = texts.size() / kListedTexts;
	}
	state.counters["aps"] = static_cast<double>(n);
}
BENCHMARK(BM_PlainLookup)->DenseRange(0, 4)->UseRealTime()->Unit(benchmark::kMicrosecond);

long g_rss_listed_kib = 0;

double g_fleetd_join_cpu_s = 0;

// Counts the entries of a "list" reply's "aps" array.
void count_listed(ubus_request *req, int, blob_attr *msg)
{
	blob_attr *pos;
	size_t rem;
	blob_for_each_attr(pos, msg, rem)
	{
		if (blobmsg_type(pos) != BLOBMSG_TYPE_ARRAY)
			continue;
		blob_attr *ap;
		size_t left;
		blobmsg_for_each_attr(ap, pos, left)(*static_cast<size_t *>(req->priv))++;
	}
}

// Every AP through the operator object over the bus, in pages of 2,000 (the
// largest page "list" gives), as fleetctl lists them.
void BM_ListOverBus(benchmark::State &state)
{
	ubus_context *ctx = ubus_connect(g_socket.c_str());
	uint32_t id = 0;
	if (!ctx || ubus_lookup_id(ctx, "fleet", &id) != 0) {
		state.SkipWithError("no fleet object");
		return;
	}
	size_t n = 0;
	for (auto _ : state) {
		n = 0;
		for (uint32_t offset = 0; offset < kInventoryAps; offset += 2000) {
			wlc::BlobBuf args;
			args.add_u32("offset", offset).add_u32("limit", 2000);
			size_t page = 0;
			if (ubus_invoke(ctx, id, "list", args.head(), count_listed, &page, 10000) != 0 || page == 0) {
				state.SkipWithError("list failed");
				break;
			}
			n += page;
		}
	}
	state.counters["aps"] = static_cast<double>(n);
	ubus_free(ctx);
	g_rss_listed_kib = status_kib(g_fleetd, "VmRSS");
}
BENCHMARK(BM_ListOverBus)->UseRealTime()->Unit(benchmark::kMillisecond);

size_t g_inventory_responses = 0;
// Joins sent so far through each path (each repetition adds new APs).
size_t g_inventory_joins = 0, g_bus_joins = 0;

// A join and its presence through the inventory's code as "db.ap" drives
// it (site approving every join), each record durable before the next.
void BM_JoinsInventory(benchmark::State &state)
{
	fleet::ApprovalPolicy policy(fleet::ApprovalMode::automatic);
	fleet::Lifecycle lifecycle(*g_inventory, policy, "site-00", [](const std::string &) { g_inventory_responses++; });
	for (auto _ : state) {
		size_t n = g_inventory_joins++;
		if (!lifecycle.on_join(join_of(n)) || !lifecycle.on_presence(presence_of(n))) {
			state.SkipWithError("not recorded");
			break;
		}
	}
	state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_JoinsInventory)->Iterations(kJoins)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The baseline: the same two rows per AP, plain INSERTs in autocommit (one
// transaction each), prepared once, into a file with the same journal and
// durability settings.
void BM_PlainInserts(benchmark::State &state)
{
	sqlite3 *raw = nullptr;
	sqlite3_open(g_plain.c_str(), &raw);
	fleet::SqliteHandle db(raw);
	if (!fleet::exec(db.get(), "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL; CREATE TABLE IF NOT EXISTS "
				   "joins(id, cert, fw_version, fw_revision, model, serial, ip, mac, hostname, custom_config, at); "
				   "CREATE TABLE IF NOT EXISTS presence(id, fw_version, fw_revision, model, online, at)")) {
		state.SkipWithError("plain file not set up");
		return;
	}
	fleet::Statement join(db.get(), "INSERT INTO joins VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
	fleet::Statement presence(db.get(), "INSERT INTO presence VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
	static size_t next = 0;
	for (auto _ : state) {
		size_t n = next++;
		fleet::JoinInfo j = join_of(n);
		fleet::PresenceInfo p = presence_of(n);
		join.bind(1, std::string_view(j.id)).bind(2, std::string_view(j.cert)).bind(3, std::string_view(j.fw_version));
		join.bind(4, std::string_view(j.fw_revision)).bind(5, std::string_view(j.model));
		join.bind(6, std::string_view(j.serial)).bind(7, j.ip).bind(8, j.mac).bind(9, j.hostname).bind(10, j.custom_config);
		join.bind(11, int64_t{1700000000});
		presence.bind(1, std::string_view(p.id)).bind(2, p.fw_version).bind(3, p.fw_revision).bind(4, p.model);
		presence.bind(5, int64_t{1});
		presence.bind(6, int64_t{1700000000});
		bool ok = join.run() && presence.run();
		join.reset();
		presence.reset();
		if (!ok) {
			state.SkipWithError("insert failed");
			break;
		}
	}
	state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlainInserts)->Iterations(kJoins)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The records of one AP as the controller's mast sends them to "db.ap".
std::pair<wlc::BlobBuf, wlc::BlobBuf> records_of(size_t n)
{
	fleet::JoinInfo j = join_of(n);
	std::pair<wlc::BlobBuf, wlc::BlobBuf> r;
	auto &[join, presence] = r;
	join.add("id", j.id).add("cert", j.cert).add("fw_version", j.fw_version).add("fw_revision", j.fw_revision);
	join.add("model", j.model).add("serial", j.serial).add_bool("join_req", true).add("ip", *j.ip);
	join.add("mac", *j.mac).add("hostname", *j.hostname);
	presence.add("id", j.id).add_bool("online", true).add("fw_version", j.fw_version);
	presence.add("fw_revision", j.fw_revision).add("model", j.model);
	return r;
}

// A join storm on "db.ap": every AP's join and presence sent without waiting
// for the replies (as the controller's mast sends them), at most kInFlight
// unanswered; done when fleetd has answered the last one, which it does
// only once the record is durable.
class JoinStorm {
public:
	static constexpr size_t kInFlight = 64;

	JoinStorm(ubus_context *ctx, uint32_t object, size_t first, size_t aps)
		: ctx_(ctx), object_(object), first_(first), records_(2 * aps), calls_(2 * aps)
	{
	}
	// False when a record was refused or not answered.
	bool run()
	{
		ubus_add_uloop(ctx_);
		while (sent_ < kInFlight && send_next()) {
		}
		if (done_ < records_)
			uloop_run();
		return failed_ == 0 && done_ == records_;
	}

private:
	bool send_next()
	{
		if (sent_ >= records_)
			return false;
		size_t k = sent_++;
		auto recs = records_of(first_ + k / 2);
		ubus_request *req = &calls_[k];
		if (ubus_invoke_async(ctx_, object_, "set", (k % 2 ? recs.second : recs.first).head(), req) != 0) {
			finish(UBUS_STATUS_UNKNOWN_ERROR);
			return true;
		}
		req->priv = this;
		req->complete_cb = &JoinStorm::on_complete;
		ubus_complete_request_async(ctx_, req);
		return true;
	}
	void finish(int status)
	{
		failed_ += status != 0;
		if (++done_ == records_)
			uloop_end();
		else
			send_next();
	}
	static void on_complete(ubus_request *req, int status)
	{
		static_cast<JoinStorm *>(req->priv)->finish(status);
	}

	ubus_context *ctx_;
	uint32_t object_;
	size_t first_, records_, sent_ = 0, done_ = 0, failed_ = 0;
	std::vector<ubus_request> calls_;
};

// 10,000 APs' joins and presence records on "db.ap" "set" to fleetd over the
// bus, each answered once durable; the time per AP is the iteration's over kJoins.
void BM_JoinsDbAp(benchmark::State &state)
{
	uloop_init();
	ubus_context *ctx = ubus_connect(g_socket.c_str());
	uint32_t id = 0;
	if (!ctx || ubus_lookup_id(ctx, "db.ap", &id) != 0) {
		state.SkipWithError("no db.ap");
		return;
	}
	double cpu0 = cpu_seconds(g_fleetd);
	for (auto _ : state) {
		JoinStorm storm(ctx, id, g_bus_joins, kJoins);
		g_bus_joins += kJoins;
		if (!storm.run()) {
			state.SkipWithError("not recorded");
			break;
		}
	}
	state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kJoins));
	ubus_free(ctx);
	uloop_done();
	g_fleetd_join_cpu_s += cpu_seconds(g_fleetd) - cpu0;
}
BENCHMARK(BM_JoinsDbAp)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

struct Processes {
	pid_t ubusd = -1, bridge = -1;
};

// The bus daemon, the bridge stand-in and fleetd over a copy of the inventory.
bool start_fleetd(Processes &p, const std::string &inventory)
{
	std::string root = g_dir + "/controller";
	std::filesystem::create_directories(root + "/etc/fleet");
	std::filesystem::copy_file(inventory, root + "/etc/fleet/fleet.db");
	p.ubusd = bench::spawn({BENCH_UBUSD, "-s", g_socket});
	struct stat st;
	for (int i = 0; i < 500 && stat(g_socket.c_str(), &st) != 0; i++)
		usleep(10000);
	p.bridge = fork();
	if (p.bridge == 0)
		fleetbench::run_bridge(g_socket);
	g_fleetd = bench::spawn({BENCH_FLEETD, "-s", g_socket, "-m", "auto", "-n", "site-00"},
				{"WLC_ROOT=" + root, "WLC_LOG_FILE=" + root + "/fleetd.log"});
	return fleetbench::wait_for_object(g_socket, "mqtt.wlc") && fleetbench::wait_for_object(g_socket, "db.ap") &&
	       fleetbench::wait_for_object(g_socket, "fleet");
}

struct Figures {
	long rss_start_kib = 0, rss_listed_kib = 0, rss_end_kib = 0, hwm_kib = 0;
	long anon_end_kib = 0, file_end_kib = 0, shmem_end_kib = 0;
	int64_t inventory_count = 0, fleetd_count = 0, responses = 0;
	uintmax_t file_bytes = 0;
};

double mib(long kib)
{
	return static_cast<double>(kib) / 1024;
}

void print_figures(const bench::RatioReporter &r, const Figures &f)
{
	double own = r.ns("BM_JoinsInventory/iterations:10000/real_time");
	double bus = r.ns("BM_JoinsDbAp/iterations:1/real_time") / static_cast<double>(kJoins);
	double plain = r.ns("BM_PlainInserts/iterations:10000/real_time");
	std::printf("\n10,000 joins + presence, one durable transaction each (WAL, synchronous=FULL):\n");
	if (own > 0 && plain > 0 && bus > 0) {
		std::printf("  inventory code:   %6.0f APs/s = %5.1f %% of plain inserts (%.0f APs/s)   target >= 80 %%\n",
			    1e9 / own, 100 * plain / own, 1e9 / plain);
		std::printf("  db.ap over bus:   %6.0f APs/s = %5.1f %% of plain inserts                target >= 80 %%\n",
			    1e9 / bus, 100 * plain / bus);
	}
	if (g_bus_joins > 0)
		std::printf("  fleetd's CPU time per AP over the bus: %.0f us\n", 1e6 * g_fleetd_join_cpu_s / static_cast<double>(g_bus_joins));
	int64_t in_inventory = f.inventory_count - static_cast<int64_t>(kInventoryAps);
	int64_t in_fleetd = f.fleetd_count - static_cast<int64_t>(kInventoryAps);
	std::printf("  recorded: inventory %lld of %zu, fleetd %lld of %zu; JOIN_RESPs sent by fleetd %lld; lost %lld\n",
		    static_cast<long long>(in_inventory), g_inventory_joins, static_cast<long long>(in_fleetd), g_bus_joins,
		    static_cast<long long>(f.responses),
		    static_cast<long long>(g_inventory_joins + g_bus_joins) - (in_inventory + in_fleetd));
	std::printf("inventory file with 50,000 APs (3 events each): %.1f MiB\n", static_cast<double>(f.file_bytes) / (1 << 20));
	std::printf("listing 50,000 APs:    %7.2f ms, %.2f ms CPU (plain SELECT %.2f ms, %.2f ms CPU, ratio %.2f)   "
		    "target < 100 ms\n",
		    r.ns("BM_ListAll/real_time") / 1e6, r.cpu_ns("BM_ListAll/real_time") / 1e6,
		    r.ns("BM_PlainSelectAll/real_time") / 1e6, r.cpu_ns("BM_PlainSelectAll/real_time") / 1e6,
		    r.ns("BM_ListAll/real_time") / r.ns("BM_PlainSelectAll/real_time"));
	std::printf("  over the bus (25 pages of \"fleet\" \"list\"): %.2f ms\n", r.ns("BM_ListOverBus/real_time") / 1e6);
	const char *names[] = {"site + state pending", "site + state adopted", "model, first 500", "one AP by id",
			       "state pending"};
	for (int i = 0; i < 5; i++) {
		double ns = r.ns("BM_Lookup/" + std::to_string(i) + "/real_time");
		double base = r.ns("BM_PlainLookup/" + std::to_string(i) + "/real_time");
		std::printf("look-up %-22s %7.3f ms, %.3f ms CPU (plain SELECT %.3f ms, ratio %.2f)   target < 5 ms\n",
			    names[i], ns / 1e6, r.cpu_ns("BM_Lookup/" + std::to_string(i) + "/real_time") / 1e6, base / 1e6,
			    ns / base);
	}
	std::printf("fleetd memory (RSS) with 50,000 APs: %.1f MiB at start, %.1f MiB after listing them all over the "
		    "bus; %.1f MiB after the joins (60,000 APs), peak %.1f MiB   target < 64 MiB\n",
		    mib(f.rss_start_kib), mib(f.rss_listed_kib), mib(f.rss_end_kib), mib(f.hwm_kib));
	std::printf("  at the end: %.1f MiB anonymous, %.1f MiB file pages, %.1f MiB shared memory (the WAL index)\n",
		    mib(f.anon_end_kib), mib(f.file_end_kib), mib(f.shmem_end_kib));
}

} // namespace

int main(int argc, char **argv)
{
	char dir[] = "/tmp/wlc-fleet-bench-XXXXXX";
	if (!mkdtemp(dir))
		return 1;
	g_dir = dir;
	g_socket = g_dir + "/ubus.sock";
	g_plain = g_dir + "/plain.db";
	std::string inventory = g_dir + "/inventory.db";
	Processes p;
	if (!make_inventory(inventory) || !start_fleetd(p, inventory)) {
		std::fprintf(stderr, "inventory or fleetd not set up\n");
		return 1;
	}
	std::string error;
	std::optional<fleet::OpenedStore> store = fleet::open_store(inventory, error);
	if (!store)
		return 1;
	g_inventory = std::make_unique<fleet::Inventory>(std::move(store->db));
	Figures f;
	f.rss_start_kib = status_kib(g_fleetd, "VmRSS");
	f.file_bytes = std::filesystem::file_size(inventory);
	benchmark::Initialize(&argc, argv);
	bench::RatioReporter reporter;
	benchmark::RunSpecifiedBenchmarks(&reporter);
	f.inventory_count = g_inventory->count();
	f.fleetd_count = fleetbench::ask_number(g_socket, "fleet", "list", "total", wlc::BlobBuf().add_u32("limit", 1));
	f.responses = fleetbench::ask_number(g_socket, "mqtt.wlc", "sent", "sent", wlc::BlobBuf());
	f.rss_listed_kib = g_rss_listed_kib;
	f.rss_end_kib = status_kib(g_fleetd, "VmRSS");
	f.hwm_kib = status_kib(g_fleetd, "VmHWM");
	f.anon_end_kib = status_kib(g_fleetd, "RssAnon");
	f.file_end_kib = status_kib(g_fleetd, "RssFile");
	f.shmem_end_kib = status_kib(g_fleetd, "RssShmem");
	print_figures(reporter, f);
	bench::stop(g_fleetd);
	kill(p.bridge, SIGTERM);
	waitpid(p.bridge, nullptr, 0);
	bench::stop(p.ubusd);
	g_inventory.reset();
	std::filesystem::remove_all(g_dir);
	benchmark::Shutdown();
	return 0;
}
