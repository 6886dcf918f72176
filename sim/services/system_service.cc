// Stand-in for the platform's "system" bus object on a simulated device:
// method "board" describes the board and the firmware release from the
// device root (/tmp/sysinfo, /etc/openwrt_release, /proc).
//   sim_system [-s <socket>]
#include <fsroot/fsroot.h>
#include <wlc/bus.h>

#include <fstream>
#include <map>
#include <string>

#include "run_service.h"

namespace {

std::string first_line(const std::string &path)
{
	std::ifstream in(wlc::root_path(path));
	std::string line;
	std::getline(in, line);
	return line;
}

// KEY='value' lines of /etc/openwrt_release.
std::map<std::string, std::string> release_fields()
{
	std::map<std::string, std::string> fields;
	std::ifstream in(wlc::root_path("/etc/openwrt_release"));
	std::string line;
	while (std::getline(in, line)) {
		auto eq = line.find('=');
		if (eq == std::string::npos)
			continue;
		std::string value = line.substr(eq + 1);
		if (value.size() >= 2 && (value.front() == '\'' || value.front() == '"') && value.back() == value.front())
			value = value.substr(1, value.size() - 2);
		fields[line.substr(0, eq)] = value;
	}
	return fields;
}

// The processor description from /proc/cpuinfo ("model name" or "Processor").
std::string cpu_model()
{
	std::ifstream in(wlc::root_path("/proc/cpuinfo"));
	std::string line;
	while (std::getline(in, line)) {
		if (line.rfind("model name", 0) != 0 && line.rfind("Processor", 0) != 0)
			continue;
		auto colon = line.find(':');
		if (colon != std::string::npos)
			return line.substr(line.find_first_not_of(" \t", colon + 1));
	}
	return "unknown";
}

int board(wlc::Request &req, blob_attr *)
{
	wlc::BlobBuf reply;
	reply.add("kernel", first_line("/proc/sys/kernel/osrelease"));
	reply.add("hostname", first_line("/proc/sys/kernel/hostname"));
	reply.add("system", cpu_model());
	reply.add("model", first_line("/tmp/sysinfo/model"));
	reply.add("board_name", first_line("/tmp/sysinfo/board_name"));
	auto fields = release_fields();
	{
		auto release = reply.table("release");
		reply.add("distribution", fields["DISTRIB_ID"]);
		reply.add("version", fields["DISTRIB_RELEASE"]);
		reply.add("revision", fields["DISTRIB_REVISION"]);
		reply.add("target", fields["DISTRIB_TARGET"]);
		reply.add("description", fields["DISTRIB_DESCRIPTION"]);
	}
	req.reply(reply);
	return UBUS_STATUS_OK;
}

} // namespace

int main(int argc, char **argv)
{
	wlc::BusObject system("system", {{"board", {}, board}});
	return sim::run_service("system", argc, argv, system);
}
