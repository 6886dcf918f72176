// siteview_serve: writes the web server's configuration for the site view
// into a directory and runs lighttpd with it in the foreground.
//   siteview_serve -w <www dir> -g <gateway program> -d <state dir>
//                  [-p port] [-a address] [-s bus socket] [-u unix socket] [-l lighttpd]
//                  [-i interpreter]: what runs the gateway, when it is built for another machine
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include <wlc/lighttpd.h>

#include "web_config.h"

namespace {

struct Options {
	siteview::WebSettings web;
	std::string dir;
	std::string server = "/usr/sbin/lighttpd";
};

bool parse(int argc, char **argv, Options &o)
{
	int ch;
	while ((ch = getopt(argc, argv, "w:g:d:p:a:s:l:u:i:")) != -1) {
		switch (ch) {
		case 'w': o.web.www = optarg; break;
		case 'g': o.web.gateway = optarg; break;
		case 'd': o.dir = optarg; break;
		case 'p': o.web.port = std::atoi(optarg); break;
		case 'a': o.web.address = optarg; break;
		case 's': o.web.bus_socket = optarg; break;
		case 'l': o.server = optarg; break;
		case 'u': o.web.unix_socket = optarg; break;
		case 'i': o.web.interpreter = optarg; break;
		default: return false;
		}
	}
	return optind == argc && !o.web.www.empty() && !o.web.gateway.empty() && !o.dir.empty() &&
	       o.web.port > 0 && o.web.port < 65536;
}

} // namespace

int main(int argc, char **argv)
{
	Options o;
	if (!parse(argc, argv, o)) {
		std::fprintf(stderr,
			     "Usage: %s -w www-dir -g gateway -d state-dir [-p port] [-a address] [-s socket] [-u unix-socket] [-l lighttpd] [-i interpreter]\n",
			     argv[0]);
		return 1;
	}
	// The server follows no symbolic link: it is given the real paths.
	std::error_code ec;
	for (std::string *path : {&o.web.www, &o.web.gateway}) {
		std::filesystem::path real = std::filesystem::canonical(*path, ec);
		if (ec) {
			std::fprintf(stderr, "%s: %s\n", path->c_str(), ec.message().c_str());
			return 1;
		}
		*path = real.string();
	}
	o.web.pid_file = o.dir + "/lighttpd.pid";
	o.web.error_log = o.dir + "/lighttpd.log";
	const std::string conf = o.dir + "/lighttpd.conf";
	std::string error;
	if (!wlc::lighttpd::write_config(conf, siteview::lighttpd_config(o.web), error)) {
		std::fprintf(stderr, "%s\n", error.c_str());
		return 1;
	}
	execl(o.server.c_str(), o.server.c_str(), "-D", "-f", conf.c_str(), static_cast<char *>(nullptr));
	std::perror(o.server.c_str());
	return 127;
}
