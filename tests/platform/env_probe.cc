// Prints where the root helper puts a path and logs one line: run from a
// setuid copy, it shows what a program takes from the environment of the user
// who started it.
// Usage: env_probe PATH
#include <fsroot/fsroot.h>
#include <wlc/log.h>

#include <cstdio>

int main(int argc, char **argv)
{
	if (argc != 2)
		return 2;
	std::printf("%s\n", wlc::root_path(argv[1]).c_str());
	wlc::log_open("env_probe");
	wlc::logf(LOG_INFO, "resolved %s", argv[1]);
	wlc::log_close();
	return 0;
}
