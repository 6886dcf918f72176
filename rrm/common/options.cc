// Reading the RRM daemons' command lines.
#include "options.h"

#include <wlc/log.h>

#include <algorithm>
#include <charconv>
#include <functional>
#include <string_view>

namespace rrm {

namespace {

using Visitor = std::function<bool(char opt, const std::string &value)>;

// Walks the options like getopt with a leading "-": words that are not
// options are passed over, letters not in optstring are skipped, and "--"
// ends the options. False when a visitor refuses a value or a value is missing.
bool walk(const std::vector<std::string> &args, std::string_view optstring, const Visitor &visit)
{
	static const std::string none;
	for (size_t i = 0; i < args.size(); i++) {
		const std::string &arg = args[i];
		if (arg == "--")
			break;
		if (arg.size() < 2 || arg[0] != '-')
			continue;
		for (size_t k = 1; k < arg.size(); k++) {
			char c = arg[k];
			size_t at = optstring.find(c);
			if (c == ':' || at == std::string_view::npos)
				continue;
			bool takes_value = at + 1 < optstring.size() && optstring[at + 1] == ':';
			if (!takes_value) {
				if (!visit(c, none))
					return false;
				continue;
			}
			if (k + 1 < arg.size()) {
				if (!visit(c, arg.substr(k + 1)))
					return false;
			} else if (i + 1 < args.size()) {
				if (!visit(c, args[++i]))
					return false;
			} else {
				wlc::logf(LOG_ERR, "config: option -%c needs a value", c);
				return false;
			}
			break;
		}
	}
	return true;
}

// A whole decimal number within [lo, hi]; logs and gives nullopt otherwise.
std::optional<int> decimal(char opt, const std::string &text, int lo, int hi)
{
	int v = 0;
	auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 10);
	if (ec != std::errc() || end != text.data() + text.size() || text.empty() || v < lo || v > hi) {
		wlc::logf(LOG_ERR, "config: bad value '%s' for -%c (%d..%d)", text.c_str(), opt, lo, hi);
		return std::nullopt;
	}
	return v;
}

// Site names become topic levels and bus object names.
bool valid_site(const std::string &site)
{
	return site.find_first_of("/+#") == std::string::npos;
}

bool common_option(Config &c, char opt, const std::string &value)
{
	switch (opt) {
	case 'p':
		c.policy = value.substr(0, 31);
		wlc::logf(LOG_DEBUG, "config: policy = %s", c.policy.c_str());
		return true;
	case 's':
		c.site = value.substr(0, 31);
		if (!valid_site(c.site)) {
			wlc::logf(LOG_ERR, "config: bad site name '%s'", c.site.c_str());
			return false;
		}
		wlc::logf(LOG_DEBUG, "config: site = %s", c.site.c_str());
		return true;
	case 'b': {
		auto v = decimal(opt, value, 0, max_radio);
		if (!v)
			return false;
		c.radio = *v;
		wlc::logf(LOG_DEBUG, "config: radio = %d", c.radio);
		return true;
	}
	case 'c': {
		auto v = decimal(opt, value, 1, max_channel);
		if (!v)
			return false;
		c.channels.push_back(*v);
		wlc::logf(LOG_DEBUG, "config: channel = %d", *v);
		return true;
	}
	}
	return true;
}

std::optional<Config> parse_common(const std::vector<std::string> &args)
{
	Config c;
	bool ok = walk(args, "p:s:b:c:", [&c](char opt, const std::string &v) { return common_option(c, opt, v); });
	if (ok) {
		const char *missing = c.policy.empty() ? "Missing policy name"
				      : c.site.empty()   ? "Missing site name"
				      : c.radio < 0      ? "Missing radio id"
				      : c.channels.empty() ? "Missing channel list"
							   : nullptr;
		if (missing)
			wlc::logf(LOG_ERR, "%s", missing);
		ok = !missing;
	}
	if (!ok) {
		wlc::logf(LOG_ERR, "Failed to read config");
		return std::nullopt;
	}
	std::sort(c.channels.begin(), c.channels.end());
	c.channels.erase(std::unique(c.channels.begin(), c.channels.end()), c.channels.end());
	return c;
}

bool set_word(int &field, const std::string &word, std::initializer_list<std::pair<const char *, int>> words)
{
	for (const auto &[name, value] : words)
		if (word == name)
			field = value;
	return true;
}

// The site-wide plans' options.
bool site_option(Config &c, char opt, const std::string &value)
{
	std::optional<int> v;
	switch (opt) {
	case 'e':
		c.site_plan = true;
		wlc::logf(LOG_DEBUG, "config: site-wide plans");
		return true;
	case 'o':
		c.width_overlap = true;
		wlc::logf(LOG_DEBUG, "config: overlap by channel width");
		return true;
	case 'k':
	case 't':
		if (!(v = opt == 'k' ? decimal(opt, value, 1, max_site_moves) : decimal(opt, value, 0, 100)))
			return false;
		(opt == 'k' ? c.site_moves : c.site_gain) = *v;
		wlc::logf(LOG_DEBUG, "config: %s = %d", opt == 'k' ? "site_moves" : "site_gain", *v);
		return true;
	}
	return true;
}

// A store directory names a device path (resolved under the root helper)
// whose subdirectories are the APs': absolute, not the root itself, no "."
// or ".." component, and short enough for the AP files beneath it.
bool valid_store_dir(std::string_view dir)
{
	if (dir.size() < 2 || dir.size() > max_store_dir_chars || dir.front() != '/' || dir.back() == '/')
		return false;
	for (size_t at = 1; at <= dir.size();) {
		size_t end = std::min(dir.find('/', at), dir.size());
		std::string_view part = dir.substr(at, end - at);
		if (part.empty() || part == "." || part == "..")
			return false;
		at = end + 1;
	}
	return true;
}

bool store_dir_option(Config &c, const std::string &value)
{
	if (!valid_store_dir(value)) {
		wlc::logf(LOG_ERR, "config: bad store directory '%s'", value.c_str());
		return false;
	}
	c.db_path = value;
	wlc::logf(LOG_DEBUG, "config: store = %s", c.db_path.c_str());
	return true;
}

bool controller_option(Config &c, char opt, const std::string &value)
{
	std::optional<int> v;
	switch (opt) {
	case 'w':
		if (!(v = decimal(opt, value, 1, 1000)))
			return false;
		c.width = *v;
		wlc::logf(LOG_DEBUG, "config: width = %d", c.width);
		return true;
	case 'l':
	case 'h':
		if (!(v = decimal(opt, value, min_power_dbm, max_power_dbm)))
			return false;
		(opt == 'l' ? c.pwr_min : c.pwr_max) = *v;
		wlc::logf(LOG_DEBUG, "config: %s = %d", opt == 'l' ? "pwr_min" : "pwr_max", *v);
		return true;
	case 'r':
		set_word(c.roaming_strategy, value, {{"graceful", 1}, {"force", 2}});
		wlc::logf(LOG_DEBUG, "config: roaming strategy = %s (%d)", value.c_str(), c.roaming_strategy);
		return true;
	case 'm':
		if (!(v = decimal(opt, value, 1, max_store_budget_mib)))
			return false;
		c.store_budget_mib = *v;
		wlc::logf(LOG_DEBUG, "config: store budget = %d MiB", c.store_budget_mib);
		return true;
	case 'd':
		return store_dir_option(c, value);
	case 'n': {
		int s = static_cast<int>(c.sensitivity);
		set_word(s, value, {{"low", 1}, {"medium", 2}, {"high", 3}});
		c.sensitivity = static_cast<Sensitivity>(s);
		wlc::logf(LOG_DEBUG, "config: sensitivity = %s (%d)", value.c_str(), s);
		return true;
	}
	}
	return site_option(c, opt, value);
}

bool check_controller(const Config &c)
{
	if (c.width == 0) {
		wlc::logf(LOG_ERR, "Missing radio channel width");
		return false;
	}
	if (c.pwr_max < c.pwr_min) {
		wlc::logf(LOG_ERR, "Minimum power (%d) is higher than maximum power (%d)", c.pwr_min, c.pwr_max);
		return false;
	}
	if (c.sensitivity == Sensitivity::none) {
		wlc::logf(LOG_ERR, "Missing sensitivity");
		return false;
	}
	if (c.roaming_strategy == 0) {
		wlc::logf(LOG_ERR, "Missing roaming strategy");
		return false;
	}
	return true;
}

bool agent_option(Config &c, char opt, const std::string &value)
{
	std::optional<int> v;
	switch (opt) {
	case 'i':
		if (!(v = decimal(opt, value, 0, max_scan_interval_ms)))
			return false;
		c.scan_interval = *v;
		wlc::logf(LOG_DEBUG, "config: scan_interval = %d", c.scan_interval);
		return true;
	case 'g':
	case 'r':
		if (!(v = decimal(opt, value, 0, max_scan_pause_s)))
			return false;
		(opt == 'g' ? c.scan_gap : c.scan_relax) = *v;
		wlc::logf(LOG_DEBUG, "config: %s = %d", opt == 'g' ? "scan_gap" : "scan_relax", *v);
		return true;
	case 'l':
		c.channel_control = true;
		wlc::logf(LOG_DEBUG, "config: channel control");
		return true;
	case 'w':
		c.power_control = true;
		wlc::logf(LOG_DEBUG, "config: power control");
		return true;
	}
	return true;
}

bool check_agent(const Config &c)
{
	const char *missing = c.scan_interval == 0 ? "Missing scan interval"
			      : c.scan_gap == 0    ? "Missing scan gap"
			      : c.scan_relax == 0  ? "Missing scan relax"
						   : nullptr;
	if (missing)
		wlc::logf(LOG_ERR, "%s", missing);
	return !missing;
}

} // namespace

std::optional<Config> parse_controller_config(const std::vector<std::string> &args)
{
	std::optional<Config> c = parse_common(args);
	if (!c)
		return std::nullopt;
	bool ok = walk(args, "w:l:h:r:n:m:d:ek:t:o", [&c](char opt, const std::string &v) { return controller_option(*c, opt, v); });
	if (c->db_path.empty())
		c->db_path = default_store_dir(c->radio);
	c->history_length = 16;
	if (!ok || !check_controller(*c)) {
		wlc::logf(LOG_ERR, "Failed to read controller config");
		return std::nullopt;
	}
	return c;
}

std::optional<Config> parse_agent_config(const std::vector<std::string> &args)
{
	std::optional<Config> c = parse_common(args);
	if (!c)
		return std::nullopt;
	bool ok = walk(args, "i:g:r:lw", [&c](char opt, const std::string &v) { return agent_option(*c, opt, v); });
	if (!ok || !check_agent(*c)) {
		wlc::logf(LOG_ERR, "Failed to read agent config");
		return std::nullopt;
	}
	return c;
}

std::string default_store_dir(int radio)
{
	return "/etc/wlc/rrm/radio" + std::to_string(radio);
}

std::string site_store_dir(const std::string &site, int radio)
{
	return "/etc/wlc/rrm/site-" + site.substr(0, 31) + "/radio" + std::to_string(radio);
}

std::vector<std::string> arguments(int argc, char **argv)
{
	std::vector<std::string> args;
	for (int i = 1; i < argc; i++)
		args.emplace_back(argv[i]);
	return args;
}

std::string log_prefix(const Config &cfg)
{
	return "[" + cfg.site + "/" + std::to_string(cfg.radio) + "] ";
}

} // namespace rrm
