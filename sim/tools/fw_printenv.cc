// Stand-in for the boot loader's fw_printenv on a simulated device: prints
// "name=value" for each named variable (all without names) from the device's
// environment file; unknown names are reported on standard error.
#include <fsroot/fsroot.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
	std::ifstream in(wlc::root_path("/var/lib/sim/fw_env"));
	std::map<std::string, std::string> env;
	std::string line;
	std::vector<std::string> order;
	while (std::getline(in, line)) {
		auto eq = line.find('=');
		if (eq == std::string::npos)
			continue;
		env[line.substr(0, eq)] = line.substr(eq + 1);
		order.push_back(line.substr(0, eq));
	}
	if (argc < 2) {
		for (const auto &name : order)
			std::printf("%s=%s\n", name.c_str(), env[name].c_str());
		return 0;
	}
	int ret = 0;
	for (int i = 1; i < argc; i++) {
		auto it = env.find(argv[i]);
		if (it == env.end()) {
			std::fprintf(stderr, "## Error: \"%s\" not defined\n", argv[i]);
			ret = 1;
			continue;
		}
		std::printf("%s=%s\n", argv[i], it->second.c_str());
	}
	return ret;
}
