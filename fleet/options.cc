// fleetd's options.
#include "options.h"

#include <wlc/log.h>

#include <cstdlib>
#include <unistd.h>

#include "common/identifiers.h"

namespace fleet {

namespace {

bool add_mode(Options &opts, std::string_view value)
{
	size_t colon = value.rfind(':');
	std::string_view site = colon == std::string_view::npos ? std::string_view() : value.substr(0, colon);
	std::optional<ApprovalMode> mode = parse_mode(colon == std::string_view::npos ? value : value.substr(colon + 1));
	if (!mode || (colon != std::string_view::npos && !is_site_name(site)))
		return false;
	if (site.empty())
		opts.policy.set_default(*mode);
	else
		opts.policy.set(std::string(site), *mode);
	return true;
}

bool read_int(const char *text, int lo, int hi, int &out)
{
	char *end = nullptr;
	long v = std::strtol(text, &end, 10);
	if (!*text || *end || v < lo || v > hi)
		return false;
	out = static_cast<int>(v);
	return true;
}

bool absolute(const std::string &path)
{
	return !path.empty() && path[0] == '/';
}

bool take(Options &opts, int ch, const char *value)
{
	switch (ch) {
	case 's':
		opts.socket = value;
		return true;
	case 'd':
		opts.database = value;
		return !opts.database.empty() && opts.database[0] == '/';
	case 'n':
		opts.site = value;
		return is_site_name(opts.site);
	case 'm':
		return add_mode(opts, value);
	case 'f':
		opts.images = value;
		return !opts.images.empty() && opts.images[0] == '/';
	case 'p':
		return read_int(value, 1, 65535, opts.https_port);
	case 't':
		return read_int(value, 0, 86400, opts.telemetry_s);
	case 'w':
		return absolute(opts.web_config = value);
	case 'c':
		return absolute(opts.web_cert = value);
	case 'k':
		return absolute(opts.web_key = value);
	case 'b':
		return read_int(value, 1, 65535, opts.tap_port);
	case 'u':
		opts.tap_user = value;
		return !opts.tap_user.empty();
	case 'P':
		return absolute(opts.tap_password_file = value);
	default:
		return false;
	}
}

} // namespace

std::optional<Options> parse_options(int argc, char **argv)
{
	Options opts;
	optind = 1;
	int ch;
	while ((ch = getopt(argc, argv, "s:d:n:m:f:p:t:w:c:k:b:u:P:")) != -1) {
		if (!take(opts, ch, optarg ? optarg : "")) {
			wlc::logf(LOG_ERR, "Bad option '%c' value: '%s'", ch, optarg ? printable(optarg).c_str() : "");
			return std::nullopt;
		}
	}
	if (!opts.web_config.empty() && (opts.web_cert.empty() || opts.web_key.empty())) {
		wlc::logf(LOG_ERR, "Option -w needs -c and -k");
		return std::nullopt;
	}
	if (optind != argc) {
		wlc::logf(LOG_ERR, "Unexpected argument '%s'", printable(argv[optind]).c_str());
		return std::nullopt;
	}
	return opts;
}

} // namespace fleet
