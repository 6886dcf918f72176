// "ip_route": the kernel's IPv4 routes of every table, dumped over route netlink.
#include "net_stats.h"

#include <wlc/log.h>
#include <wlc/loop.h>
#include <zev/util.h>

#include <arpa/inet.h>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

namespace vigil {

namespace {

constexpr size_t kRecvBuffer = 8192;
constexpr int kDhcpProtocol = 16;

struct Route {
	uint32_t dst = 0; // network order
	int prefix = 0;
	int family = 0;
	uint32_t gateway = 0;
	uint32_t metric = 0;
	std::string device;
	bool c = false, d = false, g = false, s = false;
};

// A socket bound with port id 0: the kernel picks a free one, so a socket
// of the driver events that holds the process id does not collide with it.
wlc::UniqueFd open_route_socket()
{
	wlc::UniqueFd fd(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
	sockaddr_nl addr = {};
	addr.nl_family = AF_NETLINK;
	if (!fd || bind(fd.get(), reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0)
		return {};
	return fd;
}

bool send_dump_request(int fd)
{
	struct {
		nlmsghdr hdr;
		rtmsg msg;
	} req = {};
	req.hdr.nlmsg_len = sizeof(req);
	req.hdr.nlmsg_type = RTM_GETROUTE;
	req.hdr.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
	req.hdr.nlmsg_seq = 1;
	req.msg.rtm_family = AF_INET;
	sockaddr_nl kernel = {};
	kernel.nl_family = AF_NETLINK;
	return sendto(fd, &req, sizeof(req), 0, reinterpret_cast<sockaddr *>(&kernel), sizeof(kernel)) ==
	       static_cast<ssize_t>(sizeof(req));
}

uint32_t attr_u32(const rtattr *a)
{
	uint32_t v = 0;
	if (RTA_PAYLOAD(a) >= sizeof(v))
		std::memcpy(&v, RTA_DATA(a), sizeof(v));
	return v;
}

void take_attr(const rtattr *a, const rtmsg *rt, Route &r)
{
	if (a->rta_type == RTA_DST) {
		r.dst = attr_u32(a);
		if (rt->rtm_dst_len)
			r.prefix = rt->rtm_dst_len;
		r.family = rt->rtm_family;
	} else if (a->rta_type == RTA_GATEWAY) {
		r.gateway = attr_u32(a);
	} else if (a->rta_type == RTA_OIF) {
		char name[IF_NAMESIZE] = "";
		if (if_indextoname(attr_u32(a), name))
			r.device = name;
	} else if (a->rta_type == RTA_PRIORITY) {
		r.metric = attr_u32(a);
	}
}

// The message is at least a header and a route message long.
Route parse_route(const nlmsghdr *h, const rtmsg *rt)
{
	Route r;
	const char *p = reinterpret_cast<const char *>(rt) + NLMSG_ALIGN(sizeof(*rt));
	size_t len = h->nlmsg_len - NLMSG_LENGTH(sizeof(*rt));
	while (len >= sizeof(rtattr)) {
		const rtattr *a = reinterpret_cast<const rtattr *>(p);
		if (a->rta_len < sizeof(rtattr) || a->rta_len > len)
			break;
		take_attr(a, rt, r);
		size_t step = RTA_ALIGN(a->rta_len);
		if (step >= len)
			break;
		p += step;
		len -= step;
	}
	r.c = rt->rtm_protocol == RTPROT_KERNEL || rt->rtm_scope == RT_SCOPE_LINK;
	r.d = rt->rtm_protocol == kDhcpProtocol;
	r.g = r.gateway != 0;
	r.s = rt->rtm_protocol == RTPROT_STATIC;
	return r;
}

std::string dotted(uint32_t addr)
{
	char text[INET_ADDRSTRLEN] = "";
	inet_ntop(AF_INET, &addr, text, sizeof(text));
	return text;
}

void add_route(const Route &r, wlc::BlobBuf &reply)
{
	auto table = reply.table();
	{
		auto dst = reply.table("dst");
		auto v4 = reply.table("ipv4-address");
		if (r.dst) {
			reply.add("address", dotted(r.dst));
			if (r.prefix != zev_net_max_prefix_len(r.family))
				reply.add_u32("mask", static_cast<uint32_t>(r.prefix));
		} else if (r.prefix) {
			reply.add("address", "0");
			reply.add_u32("mask", static_cast<uint32_t>(r.prefix));
		} else {
			reply.add("address", "default");
		}
	}
	if (r.gateway) {
		auto gw = reply.table("gw");
		reply.add("ipv4-address", dotted(r.gateway));
	}
	int vlan = r.device.empty() ? -1 : zev_net_iface_brif_vlan(r.device.c_str());
	if (vlan > 0)
		reply.add("ifname", "vlan" + std::to_string(vlan));
	reply.add_u32("metric", r.metric);
	auto flags = reply.table("flags");
	reply.add_bool("C", r.c);
	reply.add_bool("D", r.d);
	reply.add_bool("G", r.g);
	reply.add_bool("S", r.s);
}

enum class Walk { More, Done, Failed };

// One datagram of the dump; its routes go into the reply.
Walk walk_datagram(const char *buf, size_t len, wlc::BlobBuf &reply)
{
	const nlmsghdr *h = reinterpret_cast<const nlmsghdr *>(buf);
	while (len >= sizeof(nlmsghdr) && h->nlmsg_len >= sizeof(nlmsghdr) && h->nlmsg_len <= len) {
		if (h->nlmsg_type == NLMSG_DONE)
			return Walk::Done;
		if (h->nlmsg_type == NLMSG_ERROR)
			return Walk::Failed;
		if (h->nlmsg_type == RTM_NEWROUTE && h->nlmsg_len >= NLMSG_LENGTH(sizeof(rtmsg))) {
			const rtmsg *rt = static_cast<const rtmsg *>(NLMSG_DATA(h));
			if (rt->rtm_type == RTN_UNICAST)
				add_route(parse_route(h, rt), reply);
		}
		size_t step = NLMSG_ALIGN(h->nlmsg_len);
		if (step >= len)
			break;
		len -= step;
		h = reinterpret_cast<const nlmsghdr *>(reinterpret_cast<const char *>(h) + step);
	}
	return Walk::More;
}

bool dump_routes(int fd, wlc::BlobBuf &reply)
{
	auto routes = reply.array("routes");
	alignas(nlmsghdr) char buf[kRecvBuffer];
	for (;;) {
		ssize_t n = recv(fd, buf, sizeof(buf), 0);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return false;
		Walk w = walk_datagram(buf, static_cast<size_t>(n), reply);
		if (w != Walk::More)
			return w == Walk::Done;
	}
}

} // namespace

int ip_route_method(wlc::Request &req)
{
	wlc::UniqueFd fd = open_route_socket();
	if (!fd) {
		wlc::logf(LOG_ERR, "Failed to open netlink socket");
		return UBUS_STATUS_UNKNOWN_ERROR;
	}
	wlc::BlobBuf reply;
	if (!send_dump_request(fd.get()) || !dump_routes(fd.get(), reply)) {
		wlc::logf(LOG_ERR, "Failed to recive routes");
		return UBUS_STATUS_NO_DATA;
	}
	req.reply(reply);
	return UBUS_STATUS_OK;
}

} // namespace vigil
