// zev_simctl: sends one script command to a running device simulator and
// prints its answer; the exit status is 0 for "ok" (with or without items after it).
//   zev_simctl <control-socket> <command words...>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char **argv)
{
	if (argc < 3) {
		std::fprintf(stderr, "Usage: %s <control-socket> <command...>\n", argv[0]);
		return 2;
	}
	std::string line;
	for (int i = 2; i < argc; i++)
		line += std::string(i > 2 ? " " : "") + argv[i];
	line += "\n";
	sockaddr_un addr = {};
	addr.sun_family = AF_UNIX;
	std::strncpy(addr.sun_path, argv[1], sizeof(addr.sun_path) - 1);
	int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
	if (fd < 0 || connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) < 0) {
		std::fprintf(stderr, "cannot reach the simulator at %s\n", argv[1]);
		return 2;
	}
	std::string reply;
	if (write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
		char c;
		while (read(fd, &c, 1) == 1 && c != '\n')
			reply += c;
	}
	close(fd);
	std::printf("%s\n", reply.c_str());
	return reply == "ok" || reply.rfind("ok ", 0) == 0 ? 0 : 1;
}
