// Feeds a client's stream to the bus daemon over a socket pair, handled as
// the event loop would: no listening socket, no loop run.
#include "ubusd_inputs.h"

#include "daemon.h"

#include <algorithm>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

namespace wlcfuzz {

namespace {

// More than any seed; keeps each run quick.
constexpr size_t kMaxInput = 64 * 1024;
// Written in pieces, so that messages also arrive split across reads.
constexpr size_t kPiece = 4096;

// Reads (and drops) what the daemon sent, so that it never has to queue.
void drain(int fd)
{
	char buf[16384];
	while (recv(fd, buf, sizeof(buf), MSG_DONTWAIT) > 0) {
	}
}

void feed(ubusd::Daemon &daemon, ubusd::Client *cl, int peer, const uint8_t *data, size_t size)
{
	size_t off = 0;
	while (off < size && !cl->dead) {
		ssize_t n = send(peer, data + off, std::min(kPiece, size - off), MSG_NOSIGNAL | MSG_DONTWAIT);
		if (n > 0)
			off += static_cast<size_t>(n);
		daemon.client_ready(cl, ULOOP_READ | ULOOP_WRITE);
		drain(peer);
	}
	if (cl->dead)
		return;
	// The client hangs up: the daemon must drop it and its objects cleanly.
	shutdown(peer, SHUT_WR);
	daemon.client_ready(cl, ULOOP_READ | ULOOP_WRITE);
	drain(peer);
}

} // namespace

void ubusd_one_input(const uint8_t *data, size_t size)
{
	static const bool loop_ready = uloop_init() == 0;
	if (!loop_ready)
		std::abort();
	int sv[2];
	if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) < 0)
		std::abort();
	{
		// A fixed seed: object ids, and so every run, are reproducible.
		ubusd::Daemon daemon(1);
		ubusd::Client *cl = daemon.add_client(sv[0]);
		if (!cl)
			std::abort();
		feed(daemon, cl, sv[1], data, std::min(size, kMaxInput));
		daemon.reap_dead();
	}
	close(sv[1]);
}

} // namespace wlcfuzz
