// fleetd's command line:
//   fleetd [-s <bus socket>] [-d <database>] [-n <default site>] [-m [<site>:]<mode>]...
//          [-f <firmware image directory>] [-p <HTTPS port of the image server>]
//          [-t <telemetry period in seconds, 0: none>]
//          [-w <web server configuration file> -c <certificate> -k <key>]
//          [-b <broker port> [-u <broker user>] [-P <broker password file>]]
// -w: fleetd writes the configuration of the HTTPS server for the image
// directory (lighttpd) there at start, with the certificate and key given.
// -b: the broker tap, off without it: fleetd's own read-only connection
// to the controller's broker on 127.0.0.1:<port> (as user -u, "wlc" by
// default, with the first line of the -P file as password), keeping the APs'
// last log lines and the last RRM channel and power commands.
// -m without a site sets the approval mode of every site not named by
// another -m; modes are auto, allow and manual (the default).
#pragma once

#include <optional>
#include <string>

#include "approval/policy.h"

namespace fleet {

struct Options {
	std::string socket;                      // empty: the bus's default socket
	std::string database = "/etc/fleet/fleet.db"; // a device path
	std::string site = "default";            // the site of an AP no registration places
	ApprovalPolicy policy;
	std::string images = "/www/firmware"; // a device path, served by the HTTPS server
	int https_port = 8443;
	int telemetry_s = 60;
	std::string web_config, web_cert, web_key; // device paths; empty: none written
	int tap_port = 0;                          // 0: no broker tap
	std::string tap_user = "wlc";
	std::string tap_password_file;             // a device path; empty: no password
};

// Null (the reason logged) on a bad option.
std::optional<Options> parse_options(int argc, char **argv);

} // namespace fleet
