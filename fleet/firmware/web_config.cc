// The web server's configuration.
#include "web_config.h"

#include <filesystem>
#include <system_error>

#include <wlc/lighttpd.h>

namespace fleet {

using wlc::lighttpd::quote;

std::string lighttpd_config(const WebServerSettings &s)
{
	std::string c = "server.modules = (\"mod_openssl\")\n";
	// Images only: no directory listings, no symbolic links out of the directory.
	c += wlc::lighttpd::server_lines({s.images, s.port, s.address, s.pid_file, s.error_log});
	c += "mimetype.assign = (\"\" => \"application/octet-stream\")\n";
	c += "ssl.engine = \"enable\"\n";
	c += "ssl.pemfile = " + quote(s.cert) + "\n";
	c += "ssl.privkey = " + quote(s.key) + "\n";
	return c;
}

bool write_lighttpd_config(const std::string &file, const WebServerSettings &s, std::string &error)
{
	namespace fs = std::filesystem;
	std::error_code ec;
	fs::create_directories(s.images, ec);
	if (ec || !fs::is_directory(s.images, ec)) {
		error = "cannot make the image directory " + s.images;
		return false;
	}
	return wlc::lighttpd::write_config(file, lighttpd_config(s), error);
}

} // namespace fleet
