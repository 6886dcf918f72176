// The NTP check: one SNTP request to each configured server, all sent
// before any answer is awaited, within fixed time budgets.
#include "ntp.h"

#include <wlc/c/uci.h>
#include <wlc/log.h>
#include <wlc/loop.h>
#include <zev/util.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/socket.h>

#include "ntp_packet.h"
#include "ntp_resolve.h"

namespace vigil {

namespace {

constexpr int kResolveLimitMs = 500;
constexpr int kReceiveLimitMs = 1000;
constexpr size_t kJoinedMax = 254;

struct UciFree {
	void operator()(uci_context *c) const noexcept { uci_free_context(c); }
};

int64_t now_ns()
{
	timespec ts;
	clock_gettime(CLOCK_REALTIME, &ts);
	return static_cast<int64_t>(ts.tv_sec) * ntp::kNsPerSecond + ts.tv_nsec;
}

struct Probe {
	std::string name;
	std::optional<sockaddr_in> dst;
	ntp::Packet request = {};
	int64_t t1 = 0;
	bool sent = false;
	bool answered = false;
	std::optional<ntp::Measurement> result;
};

struct Client {
	wlc::UniqueFd fd;
	std::vector<Probe> probes;
	int pending = 0;
};

void send_all(Client &c)
{
	for (Probe &p : c.probes) {
		if (!p.dst)
			continue;
		p.t1 = now_ns();
		p.request = ntp::request(p.t1);
		ssize_t n = sendto(c.fd.get(), p.request.data(), p.request.size(), 0, reinterpret_cast<sockaddr *>(&*p.dst),
				   sizeof(*p.dst));
		if (n == static_cast<ssize_t>(ntp::kPacketSize)) {
			p.sent = true;
			c.pending++;
		} else {
			wlc::logf(LOG_ERR, "[ntp] failed to send NTP request, hostname: %s", p.name.c_str());
		}
	}
}

void take_reply(Client &c, const ntp::Packet &reply, const sockaddr_in &from)
{
	for (Probe &p : c.probes) {
		if (!p.sent || p.answered || p.dst->sin_addr.s_addr != from.sin_addr.s_addr ||
		    std::memcmp(&reply[ntp::kOriginate], &p.request[ntp::kTransmit], 8) != 0)
			continue;
		p.result = ntp::measure(reply, p.t1, now_ns());
		p.answered = true;
		c.pending--;
		return;
	}
}

// One step of the receive wait; true when the wait is over.
bool receive_step(void *user, int64_t remaining_ms) noexcept
{
	auto &c = *static_cast<Client *>(user);
	if (remaining_ms <= 0)
		return false;
	if (c.pending == 0)
		return true;
	pollfd pfd = {c.fd.get(), POLLIN, 0};
	int r = poll(&pfd, 1, static_cast<int>(remaining_ms));
	if (r == 0)
		return false;
	if (r < 0)
		return errno != EINTR;
	if (!(pfd.revents & POLLIN))
		return true;
	ntp::Packet reply;
	sockaddr_in from = {};
	socklen_t len = sizeof(from);
	// The first 48 bytes only: a reply that carries a key id and digest or
	// extension fields after the header is still an answer.
	ssize_t n = recvfrom(c.fd.get(), reply.data(), reply.size(), 0, reinterpret_cast<sockaddr *>(&from), &len);
	if (n < 0)
		return errno != EAGAIN && errno != EWOULDBLOCK;
	if (n != static_cast<ssize_t>(ntp::kPacketSize) || from.sin_family != AF_INET)
		return true;
	take_reply(c, reply, from);
	return false;
}

void add_server(const Probe &p, wlc::BlobBuf &reply)
{
	auto table = reply.table(p.name.c_str());
	reply.add_bool("valid", p.result.has_value());
	if (!p.result)
		return;
	int64_t off = p.result->offset_ns;
	{
		auto o = reply.table("offset");
		reply.add_u32("s", static_cast<uint32_t>(static_cast<int32_t>(off / ntp::kNsPerSecond)));
		int64_t rest = off % ntp::kNsPerSecond;
		reply.add_u32("ns", static_cast<uint32_t>(rest < 0 ? -rest : rest));
	}
	// "s" and "ns" lose the sign of offsets under a second: the whole offset, signed.
	reply.add_u64("offset_ns", static_cast<uint64_t>(off));
	reply.add_u64("delay", static_cast<uint64_t>(p.result->delay_ns));
}

void join(std::vector<std::string> &names, uci_option *o)
{
	size_t used = 0;
	uci_element *e;
	uci_foreach_element(&o->v.list, e) {
		size_t len = std::strlen(e->name) + (used ? 1 : 0);
		if (used + len > kJoinedMax)
			break;
		used += len;
		// Empty names (from ";;" in the joined text) do not survive the split.
		for (size_t start = 0; start <= std::strlen(e->name);) {
			size_t end = std::strcspn(e->name + start, ";") + start;
			if (end > start)
				names.emplace_back(e->name + start, std::min<size_t>(end - start, 255));
			start = end + 1;
		}
	}
}

} // namespace

std::optional<std::vector<std::string>> ntp_servers()
{
	std::unique_ptr<uci_context, UciFree> ctx(uci_alloc_context());
	if (!ctx) {
		wlc::logf(LOG_DEBUG, "Failed to allocate UCI context");
		return std::nullopt;
	}
	char path[] = "system.ntp.server";
	uci_ptr ptr;
	if (uci_lookup_ptr(ctx.get(), &ptr, path, true) != UCI_OK) {
		wlc::logf(LOG_DEBUG, "Failed to lookup UCI option: %s", "system.ntp.server");
		return std::nullopt;
	}
	std::vector<std::string> names;
	if ((ptr.flags & uci_ptr::UCI_LOOKUP_COMPLETE) && ptr.o && ptr.o->type == UCI_TYPE_LIST)
		join(names, ptr.o);
	return names;
}

int ntp_method(wlc::Request &req)
{
	std::optional<std::vector<std::string>> names = ntp_servers();
	if (!names) {
		wlc::logf(LOG_INFO, "no ntp servers");
		return UBUS_STATUS_NO_DATA;
	}
	Client c;
	c.fd.reset(socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP));
	if (!c.fd) {
		wlc::logf(LOG_ERR, "Failed to create ntp client");
		return UBUS_STATUS_UNKNOWN_ERROR;
	}
	auto resolved = ntp::resolve(*names, kResolveLimitMs);
	if (!resolved) {
		wlc::logf(LOG_ERR, "Failed to get servers status");
		return UBUS_STATUS_UNKNOWN_ERROR;
	}
	for (size_t i = 0; i < names->size(); i++) {
		Probe p;
		p.name = (*names)[i];
		p.dst = (*resolved)[i];
		c.probes.push_back(std::move(p));
	}
	send_all(c);
	if (zev_util_retry_timeout(kReceiveLimitMs, receive_step, &c) == 0)
		wlc::logf(LOG_INFO, "[ntp] receive loop finished: all data collected");
	else
		wlc::logf(LOG_INFO, "[ntp] receive loop timeout: %d requests still pending", c.pending);
	wlc::BlobBuf reply;
	{
		auto servers = reply.table("servers");
		for (const Probe &p : c.probes)
			add_server(p, reply);
	}
	reply.add_u64("time", static_cast<uint64_t>(now_ns()));
	req.reply(reply);
	return UBUS_STATUS_OK;
}

} // namespace vigil
