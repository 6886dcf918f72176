// The web server's configuration.
#include "web_config.h"

namespace fleet {

namespace {

// A lighttpd string: quoted, with its quote and backslash escaped.
std::string quoted(const std::string &text)
{
	std::string out = "\"";
	for (char c : text) {
		if (c == '"' || c == '\\')
			out += '\\';
		out += c;
	}
	return out + "\"";
}

} // namespace

std::string lighttpd_config(const WebServerSettings &s)
{
	std::string c;
	c += "server.modules = (\"mod_openssl\")\n";
	c += "server.document-root = " + quoted(s.images) + "\n";
	c += "server.port = " + std::to_string(s.port) + "\n";
	if (!s.address.empty())
		c += "server.bind = " + quoted(s.address) + "\n";
	if (!s.pid_file.empty())
		c += "server.pid-file = " + quoted(s.pid_file) + "\n";
	if (!s.error_log.empty())
		c += "server.errorlog = " + quoted(s.error_log) + "\n";
	// Images only: no directory listings, no symbolic links out of the directory.
	c += "server.follow-symlink = \"disable\"\n";
	c += "mimetype.assign = (\"\" => \"application/octet-stream\")\n";
	c += "ssl.engine = \"enable\"\n";
	c += "ssl.pemfile = " + quoted(s.cert) + "\n";
	c += "ssl.privkey = " + quoted(s.key) + "\n";
	return c;
}

} // namespace fleet
