// Listening sockets of the simulator's seams.
#include "listen.h"

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace sim {

wlc::UniqueFd listen_seqpacket(const std::string &path)
{
	sockaddr_un addr = {};
	addr.sun_family = AF_UNIX;
	std::string temp = path + ".new";
	if (temp.size() >= sizeof(addr.sun_path))
		return wlc::UniqueFd();
	std::memcpy(addr.sun_path, temp.c_str(), temp.size() + 1);
	unlink(temp.c_str());
	wlc::UniqueFd fd(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
	if (!fd || bind(fd.get(), reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) < 0 || listen(fd.get(), 64) < 0 ||
	    rename(temp.c_str(), path.c_str()) < 0)
		return wlc::UniqueFd();
	return fd;
}

} // namespace sim
