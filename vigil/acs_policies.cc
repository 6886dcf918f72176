// The three selection policies and the random fallback.
#include <wlc/log.h>

#include <algorithm>
#include <ctime>
#include <random>

#include "acs_candidates.h"

namespace vigil::acs {

namespace {

uint32_t rssi_weight(int32_t rssi)
{
	if (rssi >= -50)
		return 90;
	return rssi >= -79 ? 80 : 70;
}

// What the neighbours j of candidate k add to its value, its "up" and its "down" sums.
struct Sums {
	uint32_t v, up, down;
};

Sums neighbour_sums(const Set &s, const Candidate &k, Sums start, bool with_cca)
{
	for (const Candidate &j : s.c) {
		if (j.channel == k.channel)
			continue;
		uint32_t add = j.score + (with_cca ? j.survey.false_cca : 0);
		if (adjacent(k.channel, j.channel))
			start.v += add;
		if (s.in.bw > 20) {
			if (in_up(j.channel, k.channel, s.in.bw))
				start.up += add;
			if (in_down(j.channel, k.channel, s.in.bw))
				start.down += add;
		}
	}
	return start;
}

void spread_bss_weights(Set &s)
{
	for (const zev_wifi_bss &b : s.in.bss) {
		int ch = static_cast<int>(b.channel);
		int i = s.first_with_channel(ch);
		if (i < 0)
			continue;
		uint32_t w = rssi_weight(b.rssi);
		Candidate &c = s.c[static_cast<size_t>(i)];
		c.score += w;
		if (!s.overlap()) {
			for (int p : s.partners(c))
				s.c[static_cast<size_t>(p)].score += w;
			continue;
		}
		c.score_up += w;
		c.score_down += w;
		for (Candidate &k : s.c) {
			if (k.channel == ch)
				continue;
			if (adjacent(k.channel, ch))
				k.score += w;
			if (in_up(k.channel, ch, static_cast<int>(b.bw)))
				k.score_up += w;
			if (in_down(k.channel, ch, static_cast<int>(b.bw)))
				k.score_down += w;
		}
	}
}

// A candidate's value in a noise pass. Overlapping band: its own score with
// its neighbours' and the better secondary's sum; bonded groups: its own
// score with its group partners' (neighbouring channel numbers do not
// overlap there).
uint32_t noise_value(const Set &s, Candidate &k, bool second)
{
	uint32_t cca = k.survey.false_cca;
	uint32_t base = second ? cca : 0;
	if (!s.overlap()) {
		uint32_t v = base + k.score;
		for (int p : s.partners(k))
			v += s.c[static_cast<size_t>(p)].score + (second ? s.c[static_cast<size_t>(p)].survey.false_cca : 0);
		return v;
	}
	Sums sums = neighbour_sums(s, k, {base + k.score, base + k.score_up, base + k.score_down}, second);
	if (s.in.bw <= 20)
		return sums.v;
	bool up = sums.up != 0 && sums.up < sums.down;
	uint32_t chosen = choose_secondary(k, up, sums.up, sums.down, s.in.skip);
	return second ? chosen : sums.v + chosen;
}

// One pass of the noise policy: the candidates with false CCA up to 100
// (first) or above it (second); -1 when none qualifies.
int noise_pass(Set &s, bool second, uint32_t &best)
{
	int winner = -1;
	for (size_t i = 0; i < s.c.size(); i++) {
		Candidate &k = s.c[i];
		uint32_t cca = k.survey.false_cca;
		if (k.skip || (second ? cca <= 100 : cca > 100))
			continue;
		uint32_t v = noise_value(s, k, second);
		if (winner < 0 || v < best) {
			winner = static_cast<int>(i);
			best = v;
		}
	}
	return winner;
}

// The winner's channel, negated when its secondary lies below (40 MHz on the overlapping band).
int with_secondary(const Candidate &k)
{
	if (k.ext <= 0)
		return k.channel;
	wlc::logf(LOG_NOTICE, "select ext channel %d", k.ext);
	return k.channel < k.ext ? k.channel : -k.channel;
}

} // namespace

uint32_t choose_secondary(Candidate &k, bool prefer_up, uint32_t up, uint32_t down, const std::vector<int> &skip)
{
	bool up_ok = secondary_valid(k.channel, k.channel + 4, skip);
	bool down_ok = secondary_valid(k.channel, k.channel - 4, skip);
	if (up_ok && (prefer_up || !down_ok)) {
		k.ext = k.channel + 4;
		return up;
	}
	k.ext = k.channel - 4;
	return down;
}

int random_choice(const Set &s)
{
	std::minstd_rand gen(static_cast<unsigned int>(std::time(nullptr)));
	size_t left = s.c.size() - s.skipped();
	uint64_t r = gen();
	int64_t n = static_cast<int64_t>(left ? r % left : r);
	for (const Candidate &k : s.c) {
		if (k.skip)
			continue;
		if (n <= 0) {
			wlc::logf(LOG_NOTICE, "select random channel %d", k.channel);
			return k.channel;
		}
		n--;
	}
	return 0;
}

int noise_policy(Set &s)
{
	spread_bss_weights(s);
	for (const Candidate &k : s.c)
		wlc::logf(LOG_INFO, "ch %2d (%3u ms) - false_cca %4.1f%%, dirty %4u, skip %1d", k.channel, k.survey.interval,
			  k.survey.false_cca / 10.0, k.score, k.skip ? 1 : 0);
	uint32_t best = 0;
	int w = noise_pass(s, false, best);
	if (w < 0)
		w = noise_pass(s, true, best);
	if (w < 0)
		return random_choice(s);
	const Candidate &k = s.c[static_cast<size_t>(w)];
	wlc::logf(LOG_NOTICE, "select channel %d, which has minimum calculated dirtiness (%u)", k.channel, best);
	return s.in.bw <= 20 ? k.channel : with_secondary(k);
}

namespace {

void count_neighbours(Set &s, Candidate &k)
{
	k.score += 30;
	if (!s.overlap()) {
		k.score += static_cast<uint32_t>(s.partners(k).size());
		return;
	}
	k.score_up += 30;
	k.score_down += 30;
	for (const Candidate &j : s.c) {
		if (j.channel == k.channel)
			continue;
		if (adjacent(k.channel, j.channel))
			k.score += 1;
		if (s.in.bw > 20) {
			if (in_up(k.channel, j.channel, s.in.bw))
				k.score_up += j.score + j.survey.false_cca;
			if (in_down(k.channel, j.channel, s.in.bw))
				k.score_down += j.score + j.survey.false_cca;
		}
	}
}

// The least used channel among those whose interference equals level; -1 when none.
int ap_count_level(Set &s, uint32_t level)
{
	int winner = -1;
	for (size_t i = 0; i < s.c.size(); i++) {
		Candidate &k = s.c[i];
		if (k.skip)
			continue;
		if (s.overlap() && s.in.bw == 40)
			k.score = choose_secondary(k, k.score_up < k.score_down, k.score_up, k.score_down, s.in.skip);
		if (k.score == level && (winner < 0 || k.ap_count < s.c[static_cast<size_t>(winner)].ap_count))
			winner = static_cast<int>(i);
	}
	return winner;
}

// Fills the group busy time: the busiest member of each bonded group.
void group_busy(Set &s)
{
	for (Candidate &k : s.c) {
		if (k.group_busy != 0)
			continue;
		k.group_busy = k.survey.busy_time;
		std::vector<int> partners = s.partners(k);
		for (int p : partners)
			k.group_busy = std::max(k.group_busy, s.c[static_cast<size_t>(p)].survey.busy_time);
		for (int p : partners)
			s.c[static_cast<size_t>(p)].group_busy = k.group_busy;
	}
}

int quietest(const Set &s, bool by_group)
{
	int winner = -1;
	uint32_t best = 0;
	for (size_t i = 0; i < s.c.size(); i++) {
		const Candidate &k = s.c[i];
		uint32_t v = by_group ? k.group_busy : k.survey.busy_time;
		if (!k.skip && (winner < 0 || v < best)) {
			winner = static_cast<int>(i);
			best = v;
		}
	}
	return winner;
}

} // namespace

int ap_count_policy(Set &s)
{
	for (Candidate &k : s.c)
		if (k.ap_count > 0)
			count_neighbours(s, k);
	for (const Candidate &k : s.c)
		wlc::logf(LOG_INFO, "ch %2d (%3u) - busy %4.1f%%, ap_cnt %2u, dirty %2u, skip %1d", k.channel,
			  k.survey.interval, k.survey.busy_time / 10.0, k.ap_count, k.score, k.skip ? 1 : 0);
	bool ext40 = s.overlap() && s.in.bw == 40;
	for (Candidate &k : s.c) {
		// Unheard: the channel itself, its secondary above (moved below
		// afterwards only where above leaves the band).
		if (!k.skip && k.ap_count == 0) {
			wlc::logf(LOG_NOTICE, "select channel %u, which no one used", static_cast<unsigned int>(k.channel));
			return k.channel;
		}
	}
	int w = -1;
	uint32_t level = 30;
	for (; level <= 32 && w < 0; level++)
		w = ap_count_level(s, level);
	if (w < 0)
		return random_choice(s);
	const Candidate &k = s.c[static_cast<size_t>(w)];
	wlc::logf(LOG_NOTICE, "select channel %u, which has minimum interference (%u) and AP count (%u)",
		  static_cast<unsigned int>(k.channel), level - 1, k.ap_count);
	return ext40 ? with_secondary(k) : k.channel;
}

int busy_policy(Set &s)
{
	if (!s.overlap())
		group_busy(s);
	for (const Candidate &k : s.c)
		wlc::logf(LOG_INFO, "ch %2d (%3u) - busy %4.1f%% (group %1.f%%), skip %1d", k.channel, k.survey.interval,
			  k.survey.busy_time / 10.0, k.group_busy / 10.0, k.skip ? 1 : 0);
	int w = quietest(s, !s.overlap());
	if (w < 0)
		return random_choice(s);
	if (s.overlap()) {
		const Candidate &k = s.c[static_cast<size_t>(w)];
		wlc::logf(LOG_NOTICE, "select channel %u, which has minimum busy time (%u)",
			  static_cast<unsigned int>(k.channel), k.survey.busy_time);
		return k.channel;
	}
	// Within the winning group, the quietest member that may be selected.
	for (int p : s.partners(s.c[static_cast<size_t>(w)]))
		if (!s.c[static_cast<size_t>(p)].skip &&
		    s.c[static_cast<size_t>(p)].survey.busy_time < s.c[static_cast<size_t>(w)].survey.busy_time)
			w = p;
	const Candidate &k = s.c[static_cast<size_t>(w)];
	wlc::logf(LOG_NOTICE, "select channel %u, which has minimum busy time in group (%u)",
		  static_cast<unsigned int>(k.channel), k.survey.busy_time);
	return k.channel;
}

} // namespace vigil::acs
