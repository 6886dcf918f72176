// Configuration files for Debian's lighttpd, the web server the host builds
// run where a device has its own (firmware images, the site view).
#pragma once

#include <string>
#include <string_view>

namespace wlc::lighttpd {

// A lighttpd string: quoted, with its quote and backslash escaped.
[[nodiscard]] std::string quote(std::string_view text);

// What every server of ours sets, whatever it serves.
struct Server {
	std::string document_root;
	int port = 0;
	std::string address;   // empty: every address
	std::string pid_file;  // empty: none
	std::string error_log; // empty: standard error
};

// The lines for those settings, symbolic links out of the document root
// refused.
[[nodiscard]] std::string server_lines(const Server &s);

// Writes a configuration whole, through a temporary file beside it, making
// the file's directory when missing; false with the reason in error.
[[nodiscard]] bool write_config(const std::string &file, const std::string &text, std::string &error);

} // namespace wlc::lighttpd
