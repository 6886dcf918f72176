// Evaluates the RRM plans on seeded random sites: APs placed at random with
// a log-distance path loss, all starting at full power on random channels of
// 1, 6 and 11. Every round the APs "scan" (what each hears follows the
// others' channels and powers), then the controller runs one channel step and
// four power steps, as its default periods (60 and 15 minutes) would. Prints,
// per site size, the model cost and the world's own co-channel interference
// before and after, the rounds to converge, and the sites that never settled.
//   rrm_eval [-n sizes (10,50,100,200)] [-s seeds per size (10)] [-r max rounds (400)] [-d spacing m (40)]
//   rrm_eval --compare [-n sizes]: the channel plans against each other (rrm_compare.cc)
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ctrl/model.h"
#include "ctrl/plans.h"
#include "rrm_compare.h"

namespace {

using namespace rrm;

const std::vector<int> channel_list = {1, 6, 11};
constexpr int pwr_min = 10, pwr_max = 20;

struct Ap {
	double x = 0, y = 0;
	int channel = 6;
	int power = 20;
	std::vector<int> moves; // channels left, newest last
};

struct Site {
	std::vector<Ap> aps;
	std::vector<std::vector<double>> loss; // dB between APs

	int rssi(size_t from, size_t at) const { return static_cast<int>(std::lround(aps[from].power - loss[from][at])); }
};

double spacing = 40; // m between neighbours, on average

Site random_site(size_t n, unsigned seed)
{
	std::mt19937 rng(seed);
	double side = spacing * std::sqrt(static_cast<double>(n));
	std::uniform_real_distribution<double> pos(0, side);
	std::uniform_int_distribution<size_t> ch(0, channel_list.size() - 1);
	Site s;
	for (size_t i = 0; i < n; i++)
		s.aps.push_back({pos(rng), pos(rng), channel_list[ch(rng)], pwr_max, {}});
	s.loss.assign(n, std::vector<double>(n, 0));
	for (size_t i = 0; i < n; i++)
		for (size_t j = 0; j < n; j++) {
			double d = std::max(1.0, std::hypot(s.aps[i].x - s.aps[j].x, s.aps[i].y - s.aps[j].y));
			s.loss[i][j] = 40 + 30 * std::log10(d); // indoor log-distance path loss
		}
	return s;
}

std::string id_of(size_t i)
{
	std::string digits = std::to_string(i);
	return "ap" + std::string(digits.size() < 5 ? 5 - digits.size() : 0, '0') + digits;
}

Mac bssid_of(size_t i)
{
	return {2, 1, 0, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
}

// What every AP reports: its radio, and the BSSs it hears (as the codec keeps them).
Model model_of(const Site &s)
{
	size_t n = s.aps.size();
	std::vector<RadioReport> radios(n);
	std::vector<BssList> heard(n);
	std::vector<ModelInput> in;
	for (size_t i = 0; i < n; i++) {
		radios[i] = {s.aps[i].channel, s.aps[i].power, {}, {bssid_of(i)}};
		for (size_t j = 0; j < n; j++) {
			int r = s.rssi(j, i);
			if (i == j || r < weakest_rssi)
				continue;
			zev_wifi_bss b{};
			Mac m = bssid_of(j);
			std::copy(m.begin(), m.end(), b.bssid);
			b.channel = static_cast<uint32_t>(s.aps[j].channel);
			b.rssi = r;
			heard[i].push_back(b);
		}
	}
	for (size_t i = 0; i < n; i++)
		in.push_back({id_of(i), &radios[i], &heard[i]});
	return *build_model(in, channel_list, 0);
}

struct Interference {
	double dbm = -INFINITY; // received power summed over co-channel pairs
	size_t strong_pairs = 0; // pairs on one channel heard above -75 dBm
};

Interference interference(const Site &s)
{
	Interference out;
	double mw = 0;
	for (size_t i = 0; i < s.aps.size(); i++)
		for (size_t j = 0; j < s.aps.size(); j++) {
			if (i == j || s.aps[i].channel != s.aps[j].channel)
				continue;
			int r = s.rssi(j, i);
			mw += std::pow(10.0, r / 10.0);
			if (j > i && std::max(r, s.rssi(i, j)) > -75)
				out.strong_pairs++;
		}
	out.dbm = mw > 0 ? 10 * std::log10(mw) : -INFINITY;
	return out;
}

size_t index_of(const std::string &id)
{
	return static_cast<size_t>(std::stoul(id.substr(2)));
}

struct Result {
	unsigned cost_before = 0, cost_after = 0;
	Interference before, after;
	int rounds = -1; // to converge; -1: never settled
	size_t returns = 0; // channel moves back to a channel left within the last 3 moves
};

Result evaluate(size_t n, unsigned seed, int max_rounds)
{
	Site s = random_site(n, seed);
	Result r;
	r.cost_before = model_of(s).cost;
	r.before = interference(s);
	for (int round = 0; round < max_rounds; round++) {
		bool moved = false;
		if (auto m = channel_plan(model_of(s), channel_list, Sensitivity::medium)) {
			Ap &ap = s.aps[index_of(m->id)];
			auto &left = ap.moves;
			if (std::find(left.end() - static_cast<std::ptrdiff_t>(std::min<size_t>(left.size(), 3)), left.end(), m->value) != left.end())
				r.returns++;
			left.push_back(ap.channel);
			ap.channel = m->value;
			moved = true;
		}
		for (int p = 0; p < 4; p++)
			if (auto m = power_plan(model_of(s), pwr_min, pwr_max)) {
				s.aps[index_of(m->id)].power = m->value;
				moved = true;
			}
		if (!moved) {
			r.rounds = round;
			break;
		}
	}
	r.cost_after = model_of(s).cost;
	r.after = interference(s);
	return r;
}

std::vector<size_t> parse_sizes(const char *text)
{
	std::vector<size_t> out;
	std::stringstream in(text);
	for (std::string w; std::getline(in, w, ',');)
		out.push_back(std::stoul(w));
	return out;
}

} // namespace

int main(int argc, char **argv)
{
	if (argc > 1 && std::string(argv[1]) == "--compare")
		return rrmeval::run_compare(argc - 1, argv + 1);
	std::vector<size_t> sizes = {10, 50, 100, 200};
	unsigned seeds = 10;
	int max_rounds = 400, ch;
	while ((ch = getopt(argc, argv, "n:s:r:d:")) != -1) {
		if (ch == 'd')
			spacing = std::atof(optarg);
		else if (ch == 'n')
			sizes = parse_sizes(optarg);
		else if (ch == 's')
			seeds = static_cast<unsigned>(std::atoi(optarg));
		else if (ch == 'r')
			max_rounds = std::atoi(optarg);
		else
			return 1;
	}
	setlogmask(LOG_UPTO(LOG_NOTICE)); // the plans' debug lines stay out of the system log
	std::printf("%5s %6s %11s %11s %13s %13s %9s %9s %8s %9s\n", "APs", "sites", "cost", "cost", "co-ch dBm",
		    "co-ch dBm", "pairs>-75", "pairs>-75", "rounds", "unsettled");
	std::printf("%5s %6s %11s %11s %13s %13s %9s %9s %8s %9s\n", "", "", "before", "after", "before", "after",
		    "before", "after", "(mean)", "/returns");
	for (size_t n : sizes) {
		double cb = 0, ca = 0, ib = 0, ia = 0, pb = 0, pa = 0, rounds = 0;
		unsigned settled = 0, unsettled = 0;
		size_t returns = 0;
		for (unsigned seed = 1; seed <= seeds; seed++) {
			Result r = evaluate(n, seed, max_rounds);
			cb += r.cost_before;
			ca += r.cost_after;
			ib += r.before.dbm;
			ia += r.after.dbm;
			pb += static_cast<double>(r.before.strong_pairs);
			pa += static_cast<double>(r.after.strong_pairs);
			returns += r.returns;
			if (r.rounds >= 0) {
				rounds += r.rounds;
				settled++;
			} else {
				unsettled++;
			}
		}
		double k = seeds;
		std::printf("%5zu %6u %11.1f %11.1f %13.1f %13.1f %9.1f %9.1f %8.1f %5u/%zu\n", n, seeds, cb / k, ca / k, ib / k,
			    ia / k, pb / k, pa / k, settled ? rounds / settled : -1.0, unsettled, returns);
		std::fflush(stdout);
	}
	return 0;
}
