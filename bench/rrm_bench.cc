// RRM controller costs, each against a baseline in the same run: report_add
// (decode, keep, rewrite the AP's history file) against plain writes of the
// same file bytes; model build and both plans for 1,000 APs with 20
// neighbours each against copying the same records; and memory per AP in the
// report store; and a site of 10,000 APs reporting at the agents' cadence
// against the rate they need. Prints the ratios.
#include <benchmark/benchmark.h>
#include <fsroot/fsroot.h>

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <random>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ctrl/model.h"
#include "ctrl/plans.h"
#include "ctrl/site_plan.h"
#include "ctrl/store.h"
#include "ratio_reporter.h"

namespace {

using namespace rrm;

std::string g_dir;
int64_t g_now = 1700000000;

BssList bss_list(size_t n, size_t salt)
{
	BssList list;
	for (size_t i = 0; i < n; i++) {
		zev_wifi_bss e{};
		std::snprintf(e.ssid, sizeof e.ssid, "network-%zu", i);
		e.bssid[0] = 2;
		e.bssid[3] = static_cast<uint8_t>(salt);
		e.bssid[4] = static_cast<uint8_t>(i >> 8);
		e.bssid[5] = static_cast<uint8_t>(i);
		e.channel = 1 + i % 11;
		e.rssi = -50 - static_cast<int>(i % 30);
		e.bw = 20;
		e.qbss = 1;
		e.ch_util = 40;
		e.sta_num = 3;
		list.push_back(e);
	}
	return list;
}

std::string id_of(size_t i)
{
	return "ap-" + std::to_string(i);
}

void BM_ReportAdd(benchmark::State &state)
{
	ReportStore store("/rrm", 16, [] { return g_now; });
	wlc::BlobBuf msg;
	encode_bss(msg, bss_list(static_cast<size_t>(state.range(0)), 0));
	size_t i = 0;
	for (auto _ : state) {
		if (store.add("bss", id_of(i++ % 100), msg.head()) != 0)
			state.SkipWithError("report refused");
	}
	state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReportAdd)->Arg(30)->Arg(256);

// The same bytes as the history file report_add rewrites, written plainly.
void BM_PlainFileWrite(benchmark::State &state)
{
	ReportStore store("/rrm-size", 16, [] { return g_now; });
	wlc::BlobBuf msg;
	encode_bss(msg, bss_list(static_cast<size_t>(state.range(0)), 0));
	for (int k = 0; k < 16; k++)
		(void)store.add("bss", "x", msg.head());
	std::string src = wlc::root_path("/rrm-size/x/bss.blob");
	std::vector<char> bytes(std::filesystem::file_size(src));
	std::string path = g_dir + "/plain";
	std::filesystem::create_directories(path);
	size_t i = 0;
	for (auto _ : state) {
		std::string file = path + "/" + std::to_string(i++ % 100);
		int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
		if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
			state.SkipWithError("write failed");
		close(fd);
	}
	state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlainFileWrite)->Arg(30)->Arg(256);

// The reports one agent sends per scan cycle, in the order it sends them.
struct CycleReports {
	wlc::BlobBuf channels, bss, radio;
};

const CycleReports &cycle_reports()
{
	static CycleReports c = [] {
		CycleReports c;
		encode_channels(c.channels, {{0, 100, 1, 30, 1, 1, 1, 1, 1}, {0, 100, 6, 30, 1, 1, 1, 1, 1},
					     {0, 100, 11, 30, 1, 1, 1, 1, 1}});
		encode_bss(c.bss, bss_list(30, 2));
		RadioReport r{6, 20, std::vector<zev_wifi_sta>(10), {{2, 1, 0, 0, 0, 1}, {2, 1, 0, 0, 0, 2}}};
		for (size_t i = 0; i < r.stations.size(); i++)
			r.stations[i].mac[0] = 2, r.stations[i].mac[5] = static_cast<uint8_t>(i + 1);
		encode_radio(c.radio, r);
		return c;
	}();
	return c;
}

// A site of 10,000 APs, each sending its three reports per cycle, for as many
// cycles as a history holds (so every file is written whole again once, as in
// steady running), timed by the wall clock: the store must take them faster
// than the agents send them.
constexpr size_t site_aps = 10000;
constexpr size_t site_cycles = 16;
constexpr double cycle_s = 60;

void BM_SiteCadence(benchmark::State &state)
{
	ReportStore store("/rrm-site", 16, [] { return g_now; }, site_aps);
	const CycleReports &c = cycle_reports();
	const std::array<std::pair<const char *, const blob_attr *>, 3> kinds = {
		{{"channels", c.channels.head()}, {"bss", c.bss.head()}, {"radio", c.radio.head()}}};
	std::vector<std::string> ids;
	for (size_t i = 0; i < site_aps; i++)
		ids.push_back(id_of(i));
	size_t n = 0;
	for (auto _ : state) {
		const auto &[kind, msg] = kinds[n % 3];
		if (store.add(kind, ids[n / 3 % site_aps], msg) != 0)
			state.SkipWithError("report refused");
		n++;
	}
	state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SiteCadence)->Iterations(site_aps * 3 * site_cycles)->UseRealTime();

// 1,000 APs on a line, each hearing its 20 nearest.
struct Site {
	std::vector<RadioReport> radios;
	std::vector<BssList> heard;
	std::vector<std::string> ids;
	std::vector<ModelInput> inputs;
};

const Site &site()
{
	static Site s = [] {
		Site s;
		const size_t n = 1000;
		for (size_t i = 0; i < n; i++) {
			s.ids.push_back(id_of(100000 + i));
			s.radios.push_back({static_cast<int>(1 + 5 * (i % 3)), 20, {}, {{2, 9, 0, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)}}});
		}
		for (size_t i = 0; i < n; i++) {
			BssList h;
			for (size_t k = 1; k <= 10; k++)
				for (size_t j : {i + k, i - k}) {
					if (j >= n)
						continue;
					zev_wifi_bss b{};
					std::copy(s.radios[j].bssids[0].begin(), s.radios[j].bssids[0].end(), b.bssid);
					b.channel = static_cast<uint32_t>(s.radios[j].channel);
					b.rssi = -50 - static_cast<int>(3 * k);
					h.push_back(b);
				}
			s.heard.push_back(h);
		}
		for (size_t i = 0; i < n; i++)
			s.inputs.push_back({s.ids[i], &s.radios[i], &s.heard[i]});
		return s;
	}();
	return s;
}

void BM_ModelAndPlans(benchmark::State &state)
{
	const Site &s = site();
	const std::vector<int> channels = {1, 6, 11};
	for (auto _ : state) {
		std::optional<Model> m = build_model(s.inputs, channels, g_now);
		benchmark::DoNotOptimize(channel_plan(*m, channels, Sensitivity::medium));
		benchmark::DoNotOptimize(power_plan(*m, 10, 20));
	}
}
BENCHMARK(BM_ModelAndPlans)->Unit(benchmark::kMillisecond);

void BM_CopyRecords(benchmark::State &state)
{
	const Site &s = site();
	for (auto _ : state) {
		std::vector<RadioReport> radios = s.radios;
		std::vector<BssList> heard = s.heard;
		benchmark::DoNotOptimize(radios.data());
		benchmark::DoNotOptimize(heard.data());
	}
}
BENCHMARK(BM_CopyRecords)->Unit(benchmark::kMillisecond);

// n APs about 25 m apart on a jittered grid (log-distance loss with exponent
// 3.5), on random channels of 1, 6 and 11, each hearing the others its
// scan keeps (about 25 of them): the model the site-wide plan starts from.
struct GridSite {
	std::vector<RadioReport> radios;
	std::vector<BssList> heard;
	std::vector<ModelInput> inputs;
	std::optional<Model> model;
};

const GridSite &grid_site(size_t n)
{
	static std::map<size_t, GridSite> sites;
	auto [it, fresh] = sites.try_emplace(n);
	GridSite &s = it->second;
	if (!fresh)
		return s;
	std::mt19937 rng(static_cast<unsigned>(n));
	std::uniform_real_distribution<double> jitter(-8, 8);
	std::uniform_int_distribution<int> channel(0, 2);
	const int side = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(n)))), reach = 4;
	std::vector<std::pair<double, double>> xy;
	for (size_t i = 0; i < n; i++) {
		xy.emplace_back(25.0 * static_cast<double>(i % static_cast<size_t>(side)) + jitter(rng),
				25.0 * static_cast<double>(i / static_cast<size_t>(side)) + jitter(rng));
		Mac b = {2, 8, static_cast<uint8_t>(i >> 16), static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i), 0};
		s.radios.push_back({1 + 5 * channel(rng), 20, {}, {b}});
	}
	s.heard.resize(n);
	for (size_t i = 0; i < n; i++) {
		int row = static_cast<int>(i) / side, col = static_cast<int>(i) % side;
		for (int r = std::max(0, row - reach); r <= row + reach; r++)
			for (int c = std::max(0, col - reach); c <= std::min(side - 1, col + reach); c++) {
				size_t j = static_cast<size_t>(r * side + c);
				if (j >= n || j == i)
					continue;
				double d = std::max(1.0, std::hypot(xy[i].first - xy[j].first, xy[i].second - xy[j].second));
				int rssi = static_cast<int>(std::lround(20 - 40 - 35 * std::log10(d)));
				if (rssi < weakest_rssi)
					continue;
				zev_wifi_bss e{};
				std::copy(s.radios[j].bssids[0].begin(), s.radios[j].bssids[0].end(), e.bssid);
				e.channel = static_cast<uint32_t>(s.radios[j].channel);
				e.rssi = rssi;
				s.heard[i].push_back(e);
			}
	}
	for (size_t i = 0; i < n; i++)
		s.inputs.push_back({id_of(200000 + i), &s.radios[i], &s.heard[i]});
	s.model = build_model(s.inputs, {1, 6, 11}, g_now);
	return s;
}

// The site-wide channel plan of a whole site from its model: the search over
// every AP and the moves of the first step.
void BM_SitePlan(benchmark::State &state)
{
	const GridSite &s = grid_site(static_cast<size_t>(state.range(0)));
	const std::vector<int> channels = {1, 6, 11};
	size_t moves = 0;
	for (auto _ : state) {
		SiteTarget target;
		moves = site_channel_plan(*s.model, channels, {static_cast<size_t>(default_site_moves), 1, {}}, {}, target).size();
		benchmark::DoNotOptimize(moves);
	}
	state.counters["moves"] = static_cast<double>(moves);
}
BENCHMARK(BM_SitePlan)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// Bytes the store holds per AP with full histories of the given reports.
double memory_per_ap(const CycleReports &c)
{
	ReportStore store("/rrm-memory", 16, [] { return g_now; });
	const size_t aps = 200;
	for (size_t i = 0; i < aps; i++)
		for (int k = 0; k < 16; k++) {
			(void)store.add("channels", id_of(i), c.channels.head());
			(void)store.add("bss", id_of(i), c.bss.head());
			(void)store.add("radio", id_of(i), c.radio.head());
		}
	return static_cast<double>(store.memory()) / aps;
}

// The largest reports an agent can send: 32 channels, 256 BSSs, 256 stations, 16 BSSIDs.
const CycleReports &largest_reports()
{
	static CycleReports c = [] {
		CycleReports c;
		ChannelList channels;
		for (uint32_t ch = 1; ch <= max_channel_records; ch++)
			channels.push_back({0, 100, ch, 30, 1, 1, 1, 1, 1});
		encode_channels(c.channels, channels);
		encode_bss(c.bss, bss_list(max_bss_entries, 3));
		RadioReport r{6, 20, std::vector<zev_wifi_sta>(max_stations), {}};
		for (size_t i = 0; i < r.stations.size(); i++)
			r.stations[i].mac[0] = 2, r.stations[i].mac[4] = static_cast<uint8_t>(i >> 8),
			r.stations[i].mac[5] = static_cast<uint8_t>(i);
		for (uint8_t i = 0; i < max_radio_bssids; i++)
			r.bssids.push_back({2, 1, 0, 0, 0, static_cast<uint8_t>(i + 1)});
		encode_radio(c.radio, r);
		return c;
	}();
	return c;
}

} // namespace

int main(int argc, char **argv)
{
	char dir[] = "/tmp/wlc-rrm-bench-XXXXXX";
	if (!mkdtemp(dir))
		return 1;
	g_dir = dir;
	setenv("WLC_ROOT", dir, 1);
	wlc::reload_fs_root();
	setlogmask(LOG_UPTO(LOG_NOTICE));
	benchmark::Initialize(&argc, argv);
	bench::RatioReporter rep;
	benchmark::RunSpecifiedBenchmarks(&rep);
	double per_ap = memory_per_ap(cycle_reports());
	double worst_per_ap = memory_per_ap(largest_reports());
	std::filesystem::remove_all(dir);

	for (const char *n : {"30", "256"}) {
		double add = rep.ns(std::string("BM_ReportAdd/") + n), plain = rep.ns(std::string("BM_PlainFileWrite/") + n);
		double add_cpu = rep.cpu_ns(std::string("BM_ReportAdd/") + n);
		double plain_cpu = rep.cpu_ns(std::string("BM_PlainFileWrite/") + n);
		if (add > 0 && plain > 0)
			std::printf("report_add with %s BSSs: %.0f/s, %.2f x a plain write of the same file bytes "
				    "(CPU time: %.2f x)\n",
				    n, 1e9 / add, add / plain, plain_cpu > 0 ? add_cpu / plain_cpu : 0.0);
	}
	double model = rep.ns("BM_ModelAndPlans"), copy = rep.ns("BM_CopyRecords");
	if (model > 0 && copy > 0)
		std::printf("model + both plans, 1,000 APs x 20 neighbours: %.1f ms (target 100 ms), %.2f x copying the records\n",
			    model / 1e6, model / copy);
	for (auto [aps, target_ms] : {std::pair{1000, 100}, {10000, 2000}}) {
		double cpu = rep.cpu_ns("BM_SitePlan/" + std::to_string(aps));
		if (cpu > 0)
			std::printf("site-wide channel plan, %d APs (grid 25 m, ~25 heard each): %.1f ms CPU (target %d ms)\n", aps,
				    cpu / 1e6, target_ms);
	}
	std::printf("store memory per AP (16 reports of each kind, 30 BSSs, 10 stations): %.0f KiB; 10,000 APs: %.0f MiB\n",
		    per_ap / 1024, per_ap * 10000 / (1024 * 1024));
	const double budget = static_cast<double>(default_max_store_bytes);
	std::printf("store budget %.0f MiB (rrm_ctrl -m): %.0f bytes per typical AP, %.0f such APs fit; "
		    "%.0f bytes per AP sending the largest reports, %.0f such APs fit (AP cap %zu)\n",
		    budget / (1024 * 1024), per_ap, budget / per_ap, worst_per_ap, budget / worst_per_ap, default_max_aps);
	double site = rep.ns("BM_SiteCadence");
	double needed = site_aps * 3 / cycle_s;
	if (site > 0)
		std::printf("10,000 APs, 3 reports per %.0f s cycle each, %zu cycles: %.0f report_add/s needed, %.0f/s taken "
			    "(wall clock), %.2f x the need, store %.0f %% busy\n",
			    cycle_s, site_cycles, needed, 1e9 / site, 1e9 / site / needed, needed * site / 1e7);
	return 0;
}
