// The configuration of the controller's HTTPS server for firmware images:
// Debian's lighttpd with TLS, serving the image directory and nothing else.
#pragma once

#include <string>

namespace fleet {

struct WebServerSettings {
	std::string images;   // document root: the image directory
	int port = 8443;      // the port FIRMWARE messages name
	std::string address;  // the address to listen on; empty: every one
	std::string cert;     // PEM certificate (the one APs pinned at their join)
	std::string key;      // its private key
	std::string pid_file; // empty: none
	std::string error_log;
};

// The text of a lighttpd configuration file.
[[nodiscard]] std::string lighttpd_config(const WebServerSettings &s);

// Writes that text to file (whole, through a temporary file beside it) and
// makes the image directory and the file's own if they are missing; false with the reason in error.
[[nodiscard]] bool write_lighttpd_config(const std::string &file, const WebServerSettings &s, std::string &error);

} // namespace fleet
