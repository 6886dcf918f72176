// The web server's configuration.
#include "web_config.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

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

bool write_lighttpd_config(const std::string &file, const WebServerSettings &s, std::string &error)
{
	namespace fs = std::filesystem;
	std::error_code ec;
	fs::create_directories(s.images, ec);
	if (ec || !fs::is_directory(s.images, ec)) {
		error = "cannot make the image directory " + s.images;
		return false;
	}
	fs::create_directories(fs::path(file).parent_path(), ec);
	std::string tmp = file + ".tmp";
	{
		std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
		out << lighttpd_config(s);
		out.close();
		if (!out) {
			std::remove(tmp.c_str());
			error = "cannot write " + tmp;
			return false;
		}
	}
	fs::rename(tmp, file, ec);
	if (ec) {
		std::remove(tmp.c_str());
		error = "cannot write " + file + ": " + ec.message();
		return false;
	}
	return true;
}

} // namespace fleet
