// rrm_eval --compare: the site-wide channel plan against simple baselines and
// the single-AP plan on seeded random sites.
#pragma once

namespace rrmeval {

// argv holds the options after "--compare"; the exit status.
int run_compare(int argc, char **argv);

} // namespace rrmeval
