// Running the device simulator for a test.
#include "sim_site.h"

#include <fsroot/fsroot.h>

#include <cstdlib>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wlctest {

SimSite::SimSite(const TempRoot &root, const std::vector<SimDevice> &devices, const std::string &hear_json)
	: dir_(root.path() + "/site")
{
	std::string site = "{\"devices\": [";
	for (size_t i = 0; i < devices.size(); i++) {
		site += (i ? ", " : "") + std::string("{\"name\": \"") + devices[i].name + "\", \"root\": \"" +
			root_of(devices[i].name) + "\"";
		if (!devices[i].extra_json.empty())
			site += ", " + devices[i].extra_json;
		site += "}";
	}
	site += "], \"hear\": [" + hear_json + "]}";
	std::string file = root.at("/site/site.json");
	write_text(file, site);
	control_ = dir_ + "/control.sock";
	proc_ = std::make_unique<Process>(
		std::vector<std::string>{std::string(WLC_BUILD_DIR) + "/sim/zev_sim", "-c", control_, file});
	bool up = wait_until([&] {
		struct stat st;
		for (const auto &d : devices)
			if (stat((root_of(d.name) + "/var/run/zev-sim/events.sock").c_str(), &st) != 0)
				return false;
		return stat(control_.c_str(), &st) == 0;
	}, kStartLimit);
	if (!up)
		throw std::runtime_error("device simulator did not start");
}

SimSite::~SimSite()
{
	unsetenv("WLC_ROOT");
	wlc::reload_fs_root();
}

std::string SimSite::root_of(const std::string &device) const
{
	return dir_ + "/" + device;
}

void SimSite::use(const std::string &device) const
{
	setenv("WLC_ROOT", root_of(device).c_str(), 1);
	wlc::reload_fs_root();
	std::string path = std::string(WLC_BUILD_DIR) + "/sim/bin:" + (std::getenv("PATH") ? std::getenv("PATH") : "");
	setenv("PATH", path.c_str(), 1);
}

std::string SimSite::command(const std::string &line) const
{
	int fd = connect_unix(control_);
	if (fd < 0)
		return "error: no control socket";
	std::string msg = line + "\n";
	std::string reply;
	if (send(fd, msg.data(), msg.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(msg.size())) {
		char c;
		while (recv(fd, &c, 1, 0) == 1 && c != '\n')
			reply += c;
	}
	close(fd);
	return reply;
}

} // namespace wlctest
