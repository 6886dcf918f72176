// Running platform commands.
#include "platform_command.h"

#include <fsroot/fsroot.h>
#include <wlc/log.h>

#include <cerrno>
#include <fcntl.h>
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

int run_platform_command(const std::vector<std::string> &argv, bool quiet)
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
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	if (quiet) {
		posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
		posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
	}
	pid_t pid;
	int err = posix_spawn(&pid, program.c_str(), &actions, nullptr, raw.data(), environ);
	posix_spawn_file_actions_destroy(&actions);
	if (err != 0) {
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
