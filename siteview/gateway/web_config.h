// The configuration of the web server for the site view on a host: Debian's
// lighttpd serving the page and running the gateway for POST /ubus.
#pragma once

#include <string>

namespace siteview {

struct WebSettings {
	std::string www;           // document root: the page
	std::string gateway;       // the gateway program, run for /ubus
	std::string interpreter;   // what runs it (an emulator); empty: it runs itself
	int port = 8080;
	std::string address = "127.0.0.1"; // empty: every address
	std::string bus_socket;    // handed to the gateway; empty: its default
	std::string unix_socket;   // a listening socket besides the port; empty: none
	std::string pid_file;      // empty: none
	std::string error_log;     // empty: standard error
};

// The text of a lighttpd configuration file.
[[nodiscard]] std::string lighttpd_config(const WebSettings &s);

} // namespace siteview
