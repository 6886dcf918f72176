// The web server's configuration.
#include "web_config.h"

namespace siteview {

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

std::string lighttpd_config(const WebSettings &s)
{
	std::string c;
	c += "server.modules = (\"mod_alias\", \"mod_setenv\", \"mod_cgi\")\n";
	c += "server.document-root = " + quoted(s.www) + "\n";
	c += "server.port = " + std::to_string(s.port) + "\n";
	if (!s.address.empty())
		c += "server.bind = " + quoted(s.address) + "\n";
	if (!s.pid_file.empty())
		c += "server.pid-file = " + quoted(s.pid_file) + "\n";
	if (!s.error_log.empty())
		c += "server.errorlog = " + quoted(s.error_log) + "\n";
	c += "server.follow-symlink = \"disable\"\n";
	c += "index-file.names = (\"index.html\")\n";
	c += "mimetype.assign = (\".html\" => \"text/html; charset=utf-8\", \".js\" => \"text/javascript\", "
	     "\".css\" => \"text/css\", \".svg\" => \"image/svg+xml\", \".png\" => \"image/png\", "
	     "\".json\" => \"application/json\")\n";
	// The gateway is the only program the server runs, and only for /ubus.
	c += "alias.url = (\"/ubus\" => " + quoted(s.gateway) + ")\n";
	c += "$HTTP[\"url\"] == \"/ubus\" {\n  cgi.assign = (\"\" => " + quoted(s.interpreter) + ")\n";
	if (!s.bus_socket.empty())
		c += "  setenv.add-environment = (\"SITEVIEW_UBUS_SOCKET\" => " + quoted(s.bus_socket) + ")\n";
	c += "}\n";
	if (!s.unix_socket.empty())
		c += "$SERVER[\"socket\"] == " + quoted(s.unix_socket) + " { }\n";
	return c;
}

} // namespace siteview
