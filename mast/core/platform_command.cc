// Running platform commands.
#include "platform_command.h"

#include <fsroot/fsroot.h>
#include <wlc/log.h>

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace mast {

std::string platform_program(const std::string &name)
{
	if (name.empty())
		return {};
	if (name.front() == '/') {
		std::string path = wlc::root_path(name);
		return access(path.c_str(), X_OK) == 0 ? path : std::string();
	}
	if (name.find('/') != std::string::npos)
		return {};
	for (const char *dir : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"}) {
		std::string path = wlc::root_path(std::string(dir) + name);
		if (access(path.c_str(), X_OK) == 0)
			return path;
	}
	return {};
}

int run_platform_command(const std::vector<std::string> &argv)
{
	if (argv.empty())
		return -1;
	std::string program = platform_program(argv.front());
	if (program.empty()) {
		wlc::logf(LOG_ERR, "Failed to find command %s", argv.front().c_str());
		return -1;
	}
	std::vector<std::string> args = argv;
	std::vector<char *> raw;
	for (std::string &a : args)
		raw.push_back(a.data());
	raw.push_back(nullptr);
	pid_t pid;
	if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, raw.data(), environ) != 0) {
		wlc::logf(LOG_ERR, "Failed to start command %s", argv.front().c_str());
		return -1;
	}
	int status = 0;
	while (waitpid(pid, &status, 0) < 0) {
		if (errno != EINTR)
			return -1;
	}
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace mast
