// siteview_bench (root: a network namespace of its own): the site view with
// 1,000 APs in fleetd's inventory. Measures the answer to the page's AP list
// call ("fleet" "list", limit 2000) through the whole web path (lighttpd, the
// gateway as a CGI program, its access check with the session service, the
// call to fleetd), through the gateway's code alone in this process, and as
// a plain bus call (the baseline); then the page's render time with those
// APs in headless Chromium (the browser test's script in its measuring mode).
#include <wlc/bus.h>

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fleet_inventory.h"
#include "fleet_peers.h"
#include "rpc.h"
#include "support.h"

namespace {

constexpr size_t kAps = 1000;
constexpr int kPort = 8080;
constexpr double kListTargetMs = 50, kRenderTargetMs = 500;
const char *kList = R"(","fleet","list",{"limit":2000}]})";

std::string g_root, g_socket, g_session;
std::unique_ptr<wlc::Bus> g_bus;

std::string device_id(size_t n)
{
	char buf[32];
	std::snprintf(buf, sizeof buf, "ap1-%02zx-%02zx-c5", (n >> 8) & 0xff, n & 0xff);
	return buf;
}

// 1,000 APs of one site, one in a hundred pending and one offline.
bool make_inventory(const std::string &path)
{
	return fleetbench::write_inventory(path, kAps, [](size_t n) {
		char mac[24];
		std::snprintf(mac, sizeof mac, "02:00:00:00:%02zx:%02zx", (n >> 8) & 0xff, n & 0xff);
		return fleetbench::InventoryAp{device_id(n), "site1", "zev-ap1", "SN" + std::to_string(n), mac,
					       "ap-" + std::to_string(n),
					       n % 100 == 0 ? "pending" : n % 100 == 1 ? "offline" : "adopted"};
	});
}

// The body of the answer to a POST /ubus.
std::string post(const std::string &body)
{
	int fd = bench::connect_loopback(kPort);
	if (fd < 0)
		return "";
	std::string req = "POST /ubus HTTP/1.0\r\nContent-Type: application/json\r\nContent-Length: " +
			  std::to_string(body.size()) + "\r\n\r\n" + body;
	std::string out;
	if (write(fd, req.data(), req.size()) == static_cast<ssize_t>(req.size())) {
		char buf[16384];
		ssize_t n;
		while ((n = read(fd, buf, sizeof buf)) > 0)
			out.append(buf, static_cast<size_t>(n));
	}
	close(fd);
	size_t at = out.find("\r\n\r\n");
	return at == std::string::npos ? "" : out.substr(at + 4);
}

std::string run_text(const std::string &cmd)
{
	std::string out;
	std::unique_ptr<FILE, decltype(&pclose)> p(popen(cmd.c_str(), "r"), pclose);
	char buf[4096];
	size_t n;
	while (p && (n = fread(buf, 1, sizeof buf, p.get())) > 0)
		out.append(buf, n);
	while (!out.empty() && out.back() == '\n')
		out.pop_back();
	return out;
}

std::string list_request()
{
	return R"({"jsonrpc":"2.0","id":1,"method":"call","params":[")" + g_session + kList;
}

void BM_ListOverHttp(benchmark::State &state)
{
	const std::string req = list_request();
	for (auto _ : state)
		if (post(req).find(R"("result":[0,)") == std::string::npos)
			state.SkipWithError("the list call failed");
}
BENCHMARK(BM_ListOverHttp)->Iterations(50)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ListGatewayInProcess(benchmark::State &state)
{
	siteview::Gateway gateway(*g_bus, 10000);
	const std::string req = list_request();
	for (auto _ : state)
		if (gateway.handle(req).find(R"("result":[0,)") == std::string::npos)
			state.SkipWithError("the list call failed");
}
BENCHMARK(BM_ListGatewayInProcess)->Iterations(50)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ListBusAlone(benchmark::State &state)
{
	uint32_t fleet = g_bus->lookup("fleet");
	wlc::BlobBuf args;
	args.add_u32("limit", 2000);
	for (auto _ : state) {
		std::string json;
		int status = g_bus->call(fleet, "list", args, [&](blob_attr *m) { json = wlc::BlobBuf().add_fields(m).json(); },
					 10000);
		if (status != 0 || json.empty())
			state.SkipWithError("the list call failed");
	}
}
BENCHMARK(BM_ListBusAlone)->Iterations(50)->UseRealTime()->Unit(benchmark::kMillisecond);

class Collector : public benchmark::ConsoleReporter {
public:
	void ReportRuns(const std::vector<Run> &runs) override
	{
		ConsoleReporter::ReportRuns(runs);
		for (const Run &r : runs)
			ms_[r.benchmark_name()] = r.GetAdjustedRealTime();
	}
	double ms(const std::string &name) const
	{
		auto it = ms_.find(name + "_mean");
		if (it == ms_.end())
			it = ms_.find(name);
		return it == ms_.end() ? 0 : it->second;
	}

private:
	std::map<std::string, double> ms_;
};

struct Site {
	pid_t ubusd = -1, fleetd = -1, session = -1, web = -1;
	~Site()
	{
		for (pid_t *p : {&web, &session, &fleetd, &ubusd})
			bench::stop(*p);
	}
};

bool wait_port()
{
	for (int i = 0; i < 400; i++) {
		int fd = bench::connect_loopback(kPort);
		if (fd >= 0) {
			close(fd);
			return true;
		}
		usleep(25000);
	}
	return false;
}

std::string logins_json(const std::string &password)
{
	return R"({"logins":[{"username":"admin","password":")" + run_text("openssl passwd -5 " + password) +
	       R"(","read":["wlc-siteview-*"],"write":["wlc-siteview-*"]}]})";
}

bool start_site(Site &s)
{
	const std::string build = BENCH_BUILD_DIR, source = BENCH_SOURCE_DIR;
	std::filesystem::create_directories(g_root + "/etc/fleet");
	std::filesystem::create_directories(g_root + "/etc/siteview");
	std::filesystem::create_directories(g_root + "/usr/share/rpcd/acl.d");
	std::filesystem::create_directories(g_root + "/web");
	if (!make_inventory(g_root + "/etc/fleet/fleet.db"))
		return false;
	std::ofstream(g_root + "/etc/siteview/logins.json") << logins_json("bench-secret");
	std::filesystem::copy_file(source + "/siteview/acl/wlc-siteview.json",
				   g_root + "/usr/share/rpcd/acl.d/wlc-siteview.json");
	std::vector<std::string> env = {"WLC_ROOT=" + g_root};
	s.ubusd = bench::spawn({BENCH_UBUSD, "-s", g_socket});
	for (int i = 0; i < 400 && access(g_socket.c_str(), F_OK) != 0; i++)
		usleep(25000);
	s.fleetd = bench::spawn({BENCH_FLEETD, "-s", g_socket, "-m", "manual", "-n", "site1"}, env);
	s.session = bench::spawn({build + "/siteview/siteview_session", "-s", g_socket}, env);
	s.web = bench::spawn({build + "/siteview/siteview_serve", "-w", source + "/siteview/www", "-g",
			      build + "/siteview/siteview_gateway", "-d", g_root + "/web", "-p", std::to_string(kPort),
			      "-s", g_socket});
	return fleetbench::wait_for_object(g_socket, "fleet") && fleetbench::wait_for_object(g_socket, "session") &&
	       wait_port();
}

std::string login()
{
	std::string a = post(R"({"jsonrpc":"2.0","id":1,"method":"call","params":["00000000000000000000000000000000",)"
			     R"("session","login",{"username":"admin","password":"bench-secret","timeout":3600}]})");
	size_t at = a.find(R"("ubus_rpc_session":")");
	return at == std::string::npos ? "" : a.substr(at + 20, 32);
}

// The page with every AP drawn, in headless Chromium: the script's JSON line.
std::string render_times()
{
	return run_text("/usr/bin/python3 " + std::string(BENCH_SOURCE_DIR) +
			"/tests/siteview/browser_steps.py --url http://127.0.0.1:" + std::to_string(kPort) +
			"/ --out " + g_root + "/web --home " + g_root + "/browser --admin-password bench-secret" +
			" --render-rows " + std::to_string(kAps) + " 2>&1 | tail -1");
}

} // namespace

int main(int argc, char **argv)
{
	benchmark::Initialize(&argc, argv);
	if (!bench::private_network()) {
		std::fprintf(stderr, "siteview_bench needs root (a network namespace of its own)\n");
		return 1;
	}
	char dir[] = "/tmp/siteview-bench-XXXXXX";
	if (!mkdtemp(dir))
		return 1;
	g_root = dir;
	g_socket = g_root + "/ubus.sock";
	int ret = 1;
	{
		Site site;
		uloop_init();
		g_bus = std::make_unique<wlc::Bus>();
		if (start_site(site) && g_bus->connect(g_socket) && !(g_session = login()).empty()) {
			Collector r;
			benchmark::RunSpecifiedBenchmarks(&r);
			std::string render = render_times();
			double http = r.ms("BM_ListOverHttp/iterations:50/real_time");
			std::printf("\nThe AP list of %zu APs (\"fleet\" \"list\", limit 2000):\n", kAps);
			std::printf("  through lighttpd, the gateway (CGI) and its access check: %.2f ms (target < %.0f ms: %s)\n",
				    http, kListTargetMs, http < kListTargetMs ? "met" : "MISSED");
			std::printf("  the gateway's code in this process: %.2f ms\n",
				    r.ms("BM_ListGatewayInProcess/iterations:50/real_time"));
			std::printf("  the bus call alone (baseline): %.2f ms\n", r.ms("BM_ListBusAlone/iterations:50/real_time"));
			std::printf("The page in headless Chromium with %zu APs (target < %.0f ms to draw): %s\n", kAps,
				    kRenderTargetMs, render.c_str());
			ret = 0;
		} else {
			std::fprintf(stderr, "the site did not start (see %s/web/lighttpd.log)\n", dir);
		}
		g_bus.reset();
		uloop_done();
	}
	if (ret == 0)
		std::filesystem::remove_all(dir); // kept when the site did not start, for its logs
	return ret;
}
