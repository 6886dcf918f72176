// The command-line options of both RRM daemons: a common pass (site, policy,
// radio, channel list) and a pass of the controller's or the agent's own.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace rrm {

// The controller's report store budget unless -m gives another (MiB): room
// for the AP cap's worth of APs sending typical reports (about 68 KiB each
// with full histories), where the largest reports could take some 5 GiB.
inline constexpr int default_store_budget_mib = 1024;

// Moves per step and the channel plan's least gain (% of the model's cost)
// of the site-wide plans unless -k and -t give others.
inline constexpr int default_site_moves = 256;
inline constexpr int default_site_gain_percent = 1;
inline constexpr int max_site_moves = 1024;

enum class Sensitivity { none = 0, low = 1, medium = 2, high = 3 };

struct Config {
	std::string site;   // at most 31 characters
	std::string policy; // at most 31 characters
	int radio = -1;     // 0..255; -1 until given
	std::vector<int> channels; // ascending, no duplicates

	// Controller.
	int width = 0;
	int pwr_min = 0;
	int pwr_max = 0;
	Sensitivity sensitivity = Sensitivity::none;
	int roaming_strategy = 0; // 1 graceful, 2 force
	int history_length = 16;
	std::string db_path; // -d, else default_store_dir(radio) (device path)
	int store_budget_mib = default_store_budget_mib; // -m: memory the report store may take
	// The site-wide plans (-e): every AP planned at once, several moves per step.
	bool site_plan = false;
	int site_moves = default_site_moves;       // -k: moves per step at most
	int site_gain = default_site_gain_percent; // -t: % of the cost a channel plan must gain
	bool width_overlap = false;                // -o: with -e, overlap counted by the channel width

	// Agent.
	int scan_interval = 0; // ms on each channel
	int scan_gap = 0;      // s between channels
	int scan_relax = 0;    // s between list scans
	bool channel_control = false;
	bool power_control = false;
};

// Bounds of what the options accept.
inline constexpr int max_radio = 255;
inline constexpr int max_channel = 255;
inline constexpr int min_power_dbm = -40;
inline constexpr int max_power_dbm = 60;
inline constexpr int max_scan_interval_ms = 60000;
inline constexpr int max_scan_pause_s = 86400;
inline constexpr int max_store_budget_mib = 16384;
inline constexpr size_t max_store_dir_chars = 63;

// Each pass reads the whole command line and skips letters it does not know,
// so one line may carry the options of both daemons. Every problem is logged;
// nullopt means the daemon must not start.
[[nodiscard]] std::optional<Config> parse_controller_config(const std::vector<std::string> &args);
[[nodiscard]] std::optional<Config> parse_agent_config(const std::vector<std::string> &args);

// The report store's directory unless -d names another: one per radio, as a
// controller of one site has always kept it.
[[nodiscard]] std::string default_store_dir(int radio);
// The directory /etc/init.d/rrm_ctrl gives each site's controller when more
// than one site is configured ("/etc/wlc/rrm/site-<site>/radio<radio>", the
// site cut to 31 characters as -s cuts it), so that no controller reads,
// counts or forgets another site's APs.
[[nodiscard]] std::string site_store_dir(const std::string &site, int radio);

// argv[1..argc) as strings.
[[nodiscard]] std::vector<std::string> arguments(int argc, char **argv);

// The "[site/radio] " put before every log line once the options are known.
[[nodiscard]] std::string log_prefix(const Config &cfg);

} // namespace rrm
