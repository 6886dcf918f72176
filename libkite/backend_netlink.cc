// The "netlink" back end: requests to the switch driver's "mt753x" generic
// netlink family, each answered by replies and an acknowledgement.
#include "backend.h"
#include "genl_msg.h"
#include "reply.h"
#include "transport/seam.h"

#include <cerrno>
#include <chrono>
#include <cstring>

namespace kite {

namespace {

constexpr const char *kFamilyName = "mt753x";
constexpr size_t kRecvCap = 16384;

struct NetlinkState : BackendState {
	seam::GenlChannel channel;
	uint16_t family = 0;
	uint32_t seq = 0;
	Record rec;
};

NetlinkState &state_of(Backend &b)
{
	return static_cast<NetlinkState &>(*b.state);
}

// Sends one request and receives until its acknowledgement or error, for
// at most kAckTimeoutMs; on_message sees the replies.
int exchange(NetlinkState &s, const std::vector<uint8_t> &request, uint32_t seq, const genl::OnMessage &on_message)
{
	int ret = seam::genl_send(*s.channel, request.data(), request.size());
	if (ret < 0)
		return ret;
	auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAckTimeoutMs);
	std::vector<uint8_t> buf(kRecvCap);
	genl::Ended ended;
	while (!ended.done) {
		auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
		if (left.count() <= 0)
			return -ETIMEDOUT;
		int n = seam::genl_recv(*s.channel, buf.data(), buf.size(), static_cast<int>(left.count()));
		if (n < 0)
			return n;
		genl::walk(buf.data(), static_cast<size_t>(n), seq, on_message, ended);
	}
	return ended.error;
}

int request(NetlinkState &s, uint8_t cmd, std::initializer_list<genl::Attr32> attrs)
{
	s.rec.val = 0xFFFFFFFF;
	s.rec.has_val = false;
	uint32_t seq = ++s.seq;
	auto msg = genl::build_request(s.family, cmd, 0, seq, seam::genl_port(*s.channel), attrs);
	uint16_t family = s.family;
	return exchange(s, msg, seq, [&s, family](uint16_t type, uint8_t c, const uint8_t *a, size_t len) {
		if (type == family)
			apply_reply(s.rec, c, a, len);
	});
}

// The family's id from the family controller; a negative errno when it has none.
int lookup_family(NetlinkState &s)
{
	uint32_t seq = ++s.seq;
	auto msg = genl::build_family_lookup(kFamilyName, seq, seam::genl_port(*s.channel));
	int id = -ENOENT;
	int ret = exchange(s, msg, seq, [&id](uint16_t type, uint8_t cmd, const uint8_t *a, size_t len) {
		genl::AttrTable t;
		const genl::AttrView &fid = t[genl::kCtrlAttrFamilyId];
		if (type == genl::kCtrlFamily && cmd == genl::kCtrlNewFamily && genl::parse_attrs(a, len, t) &&
		    fid.present() && fid.len >= 2) {
			uint16_t v;
			std::memcpy(&v, fid.data, 2);
			id = v;
		}
	});
	return ret < 0 ? ret : id;
}

int nl_mii_init(Backend &b)
{
	auto s = std::make_unique<NetlinkState>();
	int error = 0;
	s->channel = seam::genl_open(error);
	if (!s->channel)
		return -EINVAL;
	int id = lookup_family(*s);
	if (id <= 0)
		return -EINVAL;
	s->family = static_cast<uint16_t>(id);
	b.state = std::move(s);
	return 0;
}

int nl_mii_uninit(Backend &b)
{
	b.state.reset();
	return 0;
}

// A read: the value the replies carried; a reply without one is an error.
int read_value(NetlinkState &s, int ret, uint32_t *value)
{
	*value = s.rec.val;
	if (ret == 0 && !s.rec.has_val)
		return -ENODATA;
	return ret;
}

int nl_mii_read(Backend &b, int phy, int reg, uint32_t *value)
{
	NetlinkState &s = state_of(b);
	s.rec.phy = phy;
	s.rec.reg = reg;
	s.rec.cmd_kind = 'r';
	int ret = request(s, genl::kCmdRead, {{genl::kAttrPhy, static_cast<uint32_t>(phy)},
					      {genl::kAttrReg, static_cast<uint32_t>(reg)}});
	return read_value(s, ret, value);
}

int nl_mii_write(Backend &b, int phy, int reg, uint32_t value)
{
	NetlinkState &s = state_of(b);
	s.rec.phy = phy;
	s.rec.reg = reg;
	s.rec.cmd_kind = 'w';
	return request(s, genl::kCmdWrite, {{genl::kAttrPhy, static_cast<uint32_t>(phy)},
					    {genl::kAttrReg, static_cast<uint32_t>(reg)},
					    {genl::kAttrVal, value}});
}

int nl_switch_read(Backend &b, int reg, uint32_t *value)
{
	NetlinkState &s = state_of(b);
	s.rec.phy = -1;
	s.rec.reg = reg;
	s.rec.cmd_kind = 'r';
	int ret = request(s, genl::kCmdRead, {{genl::kAttrReg, static_cast<uint32_t>(reg)}});
	return read_value(s, ret, value);
}

int nl_switch_write(Backend &b, int reg, uint32_t value)
{
	NetlinkState &s = state_of(b);
	s.rec.phy = -1;
	s.rec.reg = reg;
	s.rec.cmd_kind = 'w';
	return request(s, genl::kCmdWrite, {{genl::kAttrReg, static_cast<uint32_t>(reg)}, {genl::kAttrVal, value}});
}

int nl_switch_port_ts(Backend &b, int port, uint64_t ts[2])
{
	NetlinkState &s = state_of(b);
	s.rec.cmd_kind = 't';
	s.rec.ts[0] = s.rec.ts[1] = 0;
	int ret = request(s, genl::kCmdPortTs, {{genl::kAttrReg, 0xFFFFFFFF}, {genl::kAttrPhy, static_cast<uint32_t>(port)}});
	ts[0] = s.rec.ts[0];
	ts[1] = s.rec.ts[1];
	return ret;
}

} // namespace

Backend netlink_backend()
{
	return Backend{"netlink", nl_mii_init, nl_mii_uninit, nl_mii_read, nl_mii_write,
		       nl_switch_read, nl_switch_write, nl_switch_port_ts, nullptr};
}

} // namespace kite
