// The channel candidates of one selection and the arithmetic the policies share.
#pragma once

#include <cstdint>
#include <vector>

#include "acs_select.h"

namespace vigil::acs {

struct Candidate {
	zev_wifi_chan_stats survey = {};
	int channel = 0;
	int ext = 0;
	uint32_t ap_count = 0;
	uint32_t score = 0, score_up = 0, score_down = 0;
	bool skip = false;
	int partner40 = -1;
	std::array<int, 3> partners80 = {-1, -1, -1};
	std::array<int, 7> partners160 = {-1, -1, -1, -1, -1, -1, -1};
	uint32_t group_busy = 0;
};

struct Set {
	const AcsInput &in;
	std::vector<Candidate> c;

	bool overlap() const { return in.kind == BandKind::Overlap; }
	// Indices of the candidate's group partners for the current bandwidth.
	std::vector<int> partners(const Candidate &k) const;
	size_t skipped() const;
	int first_with_channel(int channel) const;
};

// The overlap windows: b inside the "up" / "down" window of a for width w.
inline bool in_up(int a, int b, int w) { return w > 20 ? a - 2 <= b && b <= a + 4 : a - 2 <= b && b <= a + 2; }
inline bool in_down(int a, int b, int w) { return w > 20 ? a - 4 <= b && b <= a + 2 : a - 2 <= b && b <= a + 2; }
inline bool adjacent(int a, int b) { return a != b && (a > b ? a - b : b - a) <= 2; }

// Chooses the secondary of a 40 MHz candidate on the overlapping band
// among the directions that are possible; prefer_up as the policy decided.
// Returns the value belonging to the chosen direction.
uint32_t choose_secondary(Candidate &k, bool prefer_up, uint32_t up, uint32_t down, const std::vector<int> &skip);

int random_choice(const Set &s);
int noise_policy(Set &s);
int ap_count_policy(Set &s);
int busy_policy(Set &s);

} // namespace vigil::acs
