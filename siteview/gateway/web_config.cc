// The web server's configuration.
#include "web_config.h"

#include <wlc/lighttpd.h>

namespace siteview {

using wlc::lighttpd::quote;

std::string lighttpd_config(const WebSettings &s)
{
	std::string c = "server.modules = (\"mod_alias\", \"mod_setenv\", \"mod_cgi\")\n";
	c += wlc::lighttpd::server_lines({s.www, s.port, s.address, s.pid_file, s.error_log});
	c += "index-file.names = (\"index.html\")\n";
	c += "mimetype.assign = (\".html\" => \"text/html; charset=utf-8\", \".js\" => \"text/javascript\", "
	     "\".css\" => \"text/css\", \".svg\" => \"image/svg+xml\", \".png\" => \"image/png\", "
	     "\".json\" => \"application/json\")\n";
	// The gateway is the only program the server runs, and only for /ubus.
	c += "alias.url = (\"/ubus\" => " + quote(s.gateway) + ")\n";
	c += "$HTTP[\"url\"] == \"/ubus\" {\n  cgi.assign = (\"\" => " + quote(s.interpreter) + ")\n";
	if (!s.bus_socket.empty())
		c += "  setenv.add-environment = (\"SITEVIEW_UBUS_SOCKET\" => " + quote(s.bus_socket) + ")\n";
	c += "}\n";
	if (!s.unix_socket.empty())
		c += "$SERVER[\"socket\"] == " + quote(s.unix_socket) + " { }\n";
	return c;
}

} // namespace siteview
