// Collects what the code under test logs, for tests that check log lines.
#pragma once

#include <wlc/log.h>

#include <cstdlib>
#include <string>

#include "harness.h"

namespace rrmtest {

class LogCapture {
public:
	explicit LogCapture(const char *ident = "rrm_ctrl") : path_(dir_.at("/log"))
	{
		setenv("WLC_LOG_FILE", path_.c_str(), 1);
		wlc::log_open(ident);
		unsetenv("WLC_LOG_FILE");
	}
	~LogCapture() { wlc::log_close(); }
	LogCapture(const LogCapture &) = delete;
	LogCapture &operator=(const LogCapture &) = delete;

	std::string text() const { return wlctest::read_text(path_); }
	bool has(const std::string &line) const { return text().find(line) != std::string::npos; }
	size_t count(const std::string &line) const
	{
		std::string t = text();
		size_t n = 0;
		for (size_t at = t.find(line); at != std::string::npos; at = t.find(line, at + 1))
			n++;
		return n;
	}

private:
	wlctest::TempRoot dir_;
	std::string path_;
};

} // namespace rrmtest
