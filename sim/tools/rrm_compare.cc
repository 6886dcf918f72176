// Compares channel plans on seeded random sites: APs placed at random in a
// square (a given mean spacing), log-distance path loss 40 + 35·log10(d) dB
// with 4 dB of log-normal shadowing, every AP at 20 dBm on a random channel,
// obeying at once and scanning ideally. Each plan runs from the same start
// until it settles; printed per case are the mean final model cost, the
// world's own co-channel interference (received power summed over pairs on
// one channel, and such pairs heard above -75 dBm), the steps and commands
// to settle and the worst AP's penalty.
//   rrm_eval --compare [-n sizes (20,100,300,1000)]
#include "rrm_compare.h"

#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ctrl/model.h"
#include "ctrl/plans.h"
#include "ctrl/site_plan.h"

namespace rrmeval {

namespace {

using namespace rrm;

constexpr int ap_power = 20;
constexpr double loss_exponent = 3.5, shadowing_db = 4;

struct Heard {
	uint32_t from = 0; // the AP heard
	int rssi = 0;
};

// The world: where the APs are, what each hears of the others, and the
// channel each is on.
struct World {
	size_t n = 0;
	std::vector<float> rx;                 // dBm that AP i hears of AP j, n x n
	std::vector<std::vector<Heard>> heard; // what each AP's scan keeps
	std::vector<int> channel;

	[[nodiscard]] float at(size_t i, size_t j) const { return rx[i * n + j]; }
};

World make_world(size_t n, double spacing, unsigned seed, const std::vector<int> &channels)
{
	std::mt19937 rng(seed);
	double side = spacing * std::sqrt(static_cast<double>(n));
	std::uniform_real_distribution<double> pos(0, side);
	std::normal_distribution<double> shadow(0, shadowing_db);
	std::uniform_int_distribution<size_t> ch(0, channels.size() - 1);
	World w;
	w.n = n;
	std::vector<std::pair<double, double>> xy(n);
	for (auto &p : xy)
		p = {pos(rng), pos(rng)};
	for (size_t i = 0; i < n; i++)
		w.channel.push_back(channels[ch(rng)]);
	w.rx.assign(n * n, 0);
	for (size_t i = 0; i < n; i++)
		for (size_t j = i + 1; j < n; j++) {
			double d = std::max(1.0, std::hypot(xy[i].first - xy[j].first, xy[i].second - xy[j].second));
			double loss = 40 + 10 * loss_exponent * std::log10(d) + shadow(rng);
			w.rx[i * n + j] = w.rx[j * n + i] = static_cast<float>(ap_power - loss);
		}
	w.heard.resize(n);
	for (size_t i = 0; i < n; i++)
		for (size_t j = 0; j < n; j++) {
			int r = static_cast<int>(std::lround(w.at(i, j)));
			if (i != j && r >= weakest_rssi)
				w.heard[i].push_back({static_cast<uint32_t>(j), r});
		}
	return w;
}

std::string id_of(size_t i)
{
	char buf[32];
	std::snprintf(buf, sizeof buf, "ap%05zu", i);
	return buf;
}

size_t index_of(const std::string &id)
{
	return static_cast<size_t>(std::stoul(id.substr(2)));
}

Mac bssid_of(size_t i)
{
	return {2, 1, 0, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
}

// What the controller's model makes of the APs' reports.
Model model_of(const World &w, const std::vector<int> &channels)
{
	std::vector<RadioReport> radios(w.n);
	std::vector<BssList> scans(w.n);
	std::vector<ModelInput> in;
	for (size_t i = 0; i < w.n; i++) {
		radios[i] = {w.channel[i], ap_power, {}, {bssid_of(i)}};
		for (const Heard &h : w.heard[i]) {
			zev_wifi_bss b{};
			Mac m = bssid_of(h.from);
			std::copy(m.begin(), m.end(), b.bssid);
			b.channel = static_cast<uint32_t>(w.channel[h.from]);
			b.rssi = h.rssi;
			scans[i].push_back(b);
		}
	}
	for (size_t i = 0; i < w.n; i++)
		in.push_back({id_of(i), &radios[i], &scans[i]});
	return *build_model(in, channels, 0);
}

struct Outcome {
	double cost = 0, mw = 0, strong_pairs = 0, steps = 0, commands = 0, worst = 0;
	bool settled = true;
};

void measure(const World &w, const std::vector<int> &channels, Outcome &o)
{
	Model m = model_of(w, channels);
	o.cost = m.cost;
	for (const ApNode &node : m.nodes)
		o.worst = std::max(o.worst, static_cast<double>(node.penalty));
	for (size_t i = 0; i < w.n; i++)
		for (size_t j = 0; j < w.n; j++) {
			if (i == j || w.channel[i] != w.channel[j])
				continue;
			o.mw += std::pow(10.0, w.at(i, j) / 10.0);
			if (j > i && std::max(w.at(i, j), w.at(j, i)) > -75)
				o.strong_pairs++;
		}
}

// A plan as it is driven: one step's moves from the world as it is now
// (empty when settled), applied at once.
using Step = std::function<std::vector<Move>(const World &)>;

Outcome drive(World w, const std::vector<int> &channels, const Step &step, size_t max_steps)
{
	Outcome o;
	o.settled = false;
	for (size_t s = 0; s < max_steps; s++) {
		std::vector<Move> moves = step(w);
		if (moves.empty()) {
			o.settled = true;
			break;
		}
		for (const Move &m : moves)
			w.channel[index_of(m.id)] = m.value;
		o.steps++;
		o.commands += static_cast<double>(moves.size());
	}
	measure(w, channels, o);
	return o;
}

// Least-used, AP by AP: one sweep per step, each AP (in id order) taking
// the listed channel used by the fewest APs it hears or that hear it.
std::vector<Move> least_used_sweep(World &w, const std::vector<int> &channels, const std::vector<std::vector<uint32_t>> &near)
{
	std::vector<Move> moves;
	for (size_t i = 0; i < w.n; i++) {
		std::vector<size_t> used(channels.size(), 0);
		for (uint32_t j : near[i])
			for (size_t c = 0; c < channels.size(); c++)
				used[c] += w.channel[j] == channels[c];
		auto mine = std::find(channels.begin(), channels.end(), w.channel[i]);
		size_t best = static_cast<size_t>(std::min_element(used.begin(), used.end()) - used.begin());
		if (mine != channels.end() && used[static_cast<size_t>(mine - channels.begin())] == used[best])
			continue;
		w.channel[i] = channels[best];
		moves.push_back({id_of(i), channels[best]});
	}
	return moves;
}

// Local search over all APs: one sweep per step, each AP (in id order)
// moving to the listed channel where the model's cost is lowest, when lower.
std::vector<Move> local_search_sweep(World &w, const std::vector<int> &channels)
{
	Model m = model_of(w, channels);
	SiteGraph g(m, channels, {});
	Assignment a = g.current();
	std::vector<Price> prices;
	std::vector<Move> moves;
	auto by_cost = [](const Price &x, const Price &y) { return x.cost < y.cost; };
	for (size_t k = m.nodes.size(); k-- > 0;) { // the model lists ids descending
		g.listed_prices(a, k, prices);
		auto best = static_cast<Value>(std::min_element(prices.begin(), prices.end(), by_cost) - prices.begin());
		if (prices[best].cost >= g.local_price(a, k, a[k]).cost)
			continue;
		a[k] = best;
		moves.push_back({m.nodes[k].id, g.channel(best)});
	}
	for (const Move &mv : moves)
		w.channel[index_of(mv.id)] = mv.value;
	return moves;
}

std::vector<std::vector<uint32_t>> neighbours(const World &w)
{
	std::vector<std::vector<uint32_t>> near(w.n);
	for (size_t i = 0; i < w.n; i++)
		for (const Heard &h : w.heard[i]) {
			near[i].push_back(h.from);
			near[h.from].push_back(static_cast<uint32_t>(i));
		}
	for (auto &v : near) {
		std::sort(v.begin(), v.end());
		v.erase(std::unique(v.begin(), v.end()), v.end());
	}
	return near;
}

const std::vector<const char *> method_names = {"random", "least-used", "local-search", "default-plan", "site-wide"};

std::vector<Outcome> run_methods(const World &start, const std::vector<int> &channels)
{
	std::vector<Outcome> out;
	out.push_back(drive(start, channels, [](const World &) { return std::vector<Move>{}; }, 1));
	auto near = neighbours(start);
	World lu = start, ls = start;
	out.push_back(drive(start, channels, [&](const World &) { return least_used_sweep(lu, channels, near); }, 100));
	out.push_back(drive(start, channels, [&](const World &) { return local_search_sweep(ls, channels); }, 100));
	out.push_back(drive(start, channels, [&](const World &w) {
		std::optional<Move> m = channel_plan(model_of(w, channels), channels, Sensitivity::medium);
		return m ? std::vector<Move>{*m} : std::vector<Move>{};
	}, 20 * start.n));
	SiteLimits limits{static_cast<size_t>(default_site_moves), static_cast<unsigned>(default_site_gain_percent), {}};
	SiteTarget target;
	out.push_back(drive(start, channels, [&](const World &w) {
		return site_channel_plan(model_of(w, channels), channels, limits, {}, target);
	}, 100));
	return out;
}

struct Case {
	size_t aps;
	double spacing;
	std::vector<int> channels;
	unsigned seeds;
};

unsigned seeds_for(size_t aps)
{
	return aps <= 20 ? 10 : aps <= 100 ? 5 : aps <= 300 ? 2 : 1;
}

std::vector<Outcome> run_case(const Case &c, unsigned first_seed)
{
	std::vector<Outcome> sum(method_names.size());
	for (unsigned s = 0; s < c.seeds; s++) {
		std::vector<Outcome> r = run_methods(make_world(c.aps, c.spacing, first_seed + s, c.channels), c.channels);
		for (size_t k = 0; k < r.size(); k++) {
			Outcome &t = sum[k];
			t.cost += r[k].cost, t.mw += r[k].mw, t.strong_pairs += r[k].strong_pairs, t.commands += r[k].commands;
			t.steps = std::max(t.steps, r[k].steps); // the slowest site
			t.worst = std::max(t.worst, r[k].worst);
			t.settled = t.settled && r[k].settled;
		}
	}
	for (Outcome &t : sum) {
		t.cost /= c.seeds, t.mw /= c.seeds, t.strong_pairs /= c.seeds, t.commands /= c.seeds;
	}
	return sum;
}

void print_case(const Case &c, const std::vector<Outcome> &r)
{
	for (size_t k = 0; k < r.size(); k++) {
		const Outcome &o = r[k];
		std::printf("%5zu %4.0f %3zu  %-13s %10.1f %10.1f %9.1f %6.0f%s %9.1f %6.0f\n", c.aps, c.spacing, c.channels.size(),
			    method_names[k], o.cost, 10 * std::log10(std::max(o.mw, 1e-30)), o.strong_pairs, o.steps,
			    o.settled ? " " : "+", o.commands, o.worst);
	}
	std::fflush(stdout);
}

std::vector<size_t> parse_sizes(const char *text)
{
	std::vector<size_t> out;
	std::stringstream in(text);
	for (std::string w; std::getline(in, w, ',');)
		out.push_back(std::stoul(w));
	return out;
}

struct Worst {
	double cost_ratio = 0, mw_ratio = 0, steps_1000 = 0;
};

void account(const Case &c, const std::vector<Outcome> &r, Worst &w)
{
	const Outcome &site = r.back();
	double cost = INFINITY, mw = INFINITY;
	for (size_t k = 0; k + 1 < r.size(); k++) {
		cost = std::min(cost, r[k].cost);
		mw = std::min(mw, r[k].mw);
	}
	w.cost_ratio = std::max(w.cost_ratio, cost > 0 ? site.cost / cost : site.cost > 0 ? INFINITY : 1.0);
	w.mw_ratio = std::max(w.mw_ratio, mw > 0 ? site.mw / mw : site.mw > 0 ? INFINITY : 1.0);
	if (c.aps == 1000)
		w.steps_1000 = std::max(w.steps_1000, site.steps);
}

} // namespace

int run_compare(int argc, char **argv)
{
	std::vector<size_t> sizes = {20, 100, 300, 1000};
	int ch;
	optind = 1;
	while ((ch = getopt(argc, argv, "n:")) != -1) {
		if (ch != 'n')
			return 1;
		sizes = parse_sizes(optarg);
	}
	setlogmask(LOG_UPTO(LOG_NOTICE));
	const std::vector<int> three = {1, 6, 11}, eleven = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
	std::printf("# %s  (steps: the slowest seed; '+': some site did not settle)\n", "mean over the seeds of each case");
	std::printf("%5s %4s %3s  %-13s %10s %10s %9s %7s %9s %6s\n", "APs", "m", "ch", "plan", "cost", "co-ch dBm",
		    "pairs>-75", "steps", "commands", "worst");
	Worst worst;
	unsigned seed = 1;
	bool any_1000 = false;
	for (size_t n : sizes)
		for (double spacing : {25.0, 40.0})
			for (const auto *list : {&three, &eleven}) {
				Case c{n, spacing, *list, seeds_for(n)};
				std::printf("# %zu APs, %.0f m, %zu channels: seeds %u..%u\n", n, spacing, list->size(), seed,
					    seed + c.seeds - 1);
				std::vector<Outcome> r = run_case(c, seed);
				seed += c.seeds;
				print_case(c, r);
				account(c, r, worst);
				any_1000 = any_1000 || n == 1000;
			}
	std::printf("site-wide vs best baseline: cost ratio %.2f, interference ratio %.2f, steps at 1000 APs %s\n",
		    worst.cost_ratio, worst.mw_ratio, any_1000 ? std::to_string(static_cast<int>(worst.steps_1000)).c_str() : "-");
	return 0;
}

} // namespace rrmeval
