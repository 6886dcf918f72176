// lighttpd configuration files.
#include <wlc/lighttpd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace wlc::lighttpd {

std::string quote(std::string_view text)
{
	std::string out = "\"";
	for (char c : text) {
		if (c == '"' || c == '\\')
			out += '\\';
		out += c;
	}
	return out + "\"";
}

std::string server_lines(const Server &s)
{
	std::string c;
	c += "server.document-root = " + quote(s.document_root) + "\n";
	c += "server.port = " + std::to_string(s.port) + "\n";
	if (!s.address.empty())
		c += "server.bind = " + quote(s.address) + "\n";
	if (!s.pid_file.empty())
		c += "server.pid-file = " + quote(s.pid_file) + "\n";
	if (!s.error_log.empty())
		c += "server.errorlog = " + quote(s.error_log) + "\n";
	c += "server.follow-symlink = \"disable\"\n";
	return c;
}

bool write_config(const std::string &file, const std::string &text, std::string &error)
{
	namespace fs = std::filesystem;
	std::error_code ec;
	fs::path dir = fs::path(file).parent_path();
	if (!dir.empty())
		fs::create_directories(dir, ec);
	std::string tmp = file + ".tmp";
	{
		std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
		out << text;
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

} // namespace wlc::lighttpd
