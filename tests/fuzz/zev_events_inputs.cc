// libzev's driver event reader under untrusted datagrams.
#include "zev_events_inputs.h"

#include <zev/wifi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>

#include "fuzz_root.h"

namespace wlcfuzz {

namespace {

// Both ends of a datagram socket pair, made once per process.
struct Pair {
	int fds[2] = {-1, -1};
	Pair()
	{
		// Interface names are asked of the (absent) device under the private root.
		(void)private_root();
		if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, fds) != 0) {
			std::perror("socketpair");
			std::abort();
		}
		int size = 1 << 20;
		setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &size, sizeof(size));
		setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
	}
};

// Every field a callback is given is read, so a bad one is caught.
unsigned sink;

void touch(const char *ifname, const void *ev, size_t len)
{
	sink += static_cast<unsigned>(std::strlen(ifname));
	const auto *p = static_cast<const uint8_t *>(ev);
	for (size_t i = 0; i < len; i++)
		sink += p[i];
}

void on_join(const char *ifname, const zev_wifi_sta_join *ev, void *) { touch(ifname, ev, sizeof(*ev)); }
void on_leave(const char *ifname, const zev_wifi_sta_leave *ev, void *) { touch(ifname, ev, sizeof(*ev)); }
void on_stats(const char *ifname, const zev_wifi_chan_stats *ev, void *) { touch(ifname, ev, sizeof(*ev)); }

void on_bss(const char *ifname, const zev_wifi_bss_list *ev, void *)
{
	touch(ifname, &ev->count, sizeof(ev->count));
	for (uint32_t i = 0; i < ev->count && i < ZEV_WIFI_BSS_MAX; i++)
		touch(ev->bss[i].ssid, &ev->bss[i], sizeof(ev->bss[i]));
}

} // namespace

void zev_events_one_input(const uint8_t *data, size_t size)
{
	static Pair pair;
	if (send(pair.fds[0], data, size, 0) != static_cast<ssize_t>(size))
		return; // larger than a datagram can be
	static const zev_wifi_event_cb cb = {on_join, on_leave, on_stats, on_bss, nullptr};
	(void)zev_wifi_event_process(pair.fds[1], &cb);
}

} // namespace wlcfuzz
