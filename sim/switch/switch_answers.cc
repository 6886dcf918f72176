// What the simulated kernel and drivers answer to generic netlink messages
// and to the Ethernet driver's private requests.
#include "switch_server.h"

#include "../../libkite/transport/sim_wire.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <optional>

namespace sim {

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kNlmsgError = 2;
constexpr uint16_t kCtrl = 0x10;
constexpr uint16_t kFlagCapped = 0x100;
constexpr const char *kVia = "netlink";

struct Header {
	uint32_t len, seq, port;
	uint16_t type, flags;
};

uint32_t u32_at(const uint8_t *p)
{
	uint32_t v;
	std::memcpy(&v, p, 4);
	return v;
}

uint16_t u16_at(const uint8_t *p)
{
	uint16_t v;
	std::memcpy(&v, p, 2);
	return v;
}

template <typename T>
void put(Bytes &out, T v)
{
	uint8_t b[sizeof(T)];
	std::memcpy(b, &v, sizeof(T));
	out.insert(out.end(), b, b + sizeof(T));
}

void put_attr(Bytes &out, uint16_t type, const void *data, size_t len)
{
	put<uint16_t>(out, static_cast<uint16_t>(4 + len));
	put<uint16_t>(out, type);
	out.insert(out.end(), static_cast<const uint8_t *>(data), static_cast<const uint8_t *>(data) + len);
	out.resize((out.size() + 3) & ~size_t(3), 0);
}

// A message of a family answering h, with its attributes already encoded.
Bytes message(const Header &h, uint16_t type, uint8_t cmd, const Bytes &attrs)
{
	Bytes out;
	put<uint32_t>(out, static_cast<uint32_t>(20 + attrs.size()));
	put<uint16_t>(out, type);
	put<uint16_t>(out, 0);
	put<uint32_t>(out, h.seq);
	put<uint32_t>(out, h.port);
	out.push_back(cmd);
	out.push_back(type == kCtrl ? 2 : 0);
	put<uint16_t>(out, 0);
	out.insert(out.end(), attrs.begin(), attrs.end());
	return out;
}

// The acknowledgement (error 0) or error of the request h, with its header.
Bytes ack(const Header &h, int error)
{
	Bytes out;
	put<uint32_t>(out, 36);
	put<uint16_t>(out, kNlmsgError);
	put<uint16_t>(out, error ? kFlagCapped : 0);
	put<uint32_t>(out, h.seq);
	put<uint32_t>(out, h.port);
	put<int32_t>(out, error);
	put<uint32_t>(out, h.len);
	put<uint16_t>(out, h.type);
	put<uint16_t>(out, h.flags);
	put<uint32_t>(out, h.seq);
	put<uint32_t>(out, h.port);
	return out;
}

// The attributes of a payload by type (the last wins); nullopt when malformed.
std::optional<std::map<uint16_t, Bytes>> attrs_of(const uint8_t *p, size_t len)
{
	std::map<uint16_t, Bytes> out;
	size_t at = 0;
	while (len - at >= 4) {
		uint16_t alen = u16_at(p + at), type = u16_at(p + at + 2) & 0x3FFF;
		if (alen < 4 || alen > len - at)
			return std::nullopt;
		out[type] = Bytes(p + at + 4, p + at + alen);
		at += std::min<size_t>((alen + 3u) & ~3u, len - at);
	}
	return out;
}

std::optional<uint32_t> u32_attr(const std::map<uint16_t, Bytes> &a, uint16_t type)
{
	auto it = a.find(type);
	if (it == a.end() || it->second.size() != 4)
		return std::nullopt;
	return u32_at(it->second.data());
}

void answer_ctrl(SwitchModel &model, const Header &h, uint8_t cmd, const std::map<uint16_t, Bytes> &a,
		 std::vector<Bytes> &out)
{
	auto name = a.find(2);
	bool ours = cmd == 3 && name != a.end() && name->second.size() == 7 &&
		    std::memcmp(name->second.data(), "mt753x", 7) == 0;
	if (!ours || !model.netlink) {
		out.push_back(ack(h, -ENOENT));
		return;
	}
	Bytes attrs;
	uint16_t id = kMt753xFamily;
	put_attr(attrs, 1, &id, 2);
	put_attr(attrs, 2, "mt753x", 7);
	out.push_back(message(h, kCtrl, 1, attrs));
	out.push_back(ack(h, 0));
}

// A read or write of a switch register (no phy) or of a PHY register.
void answer_access(SwitchModel &model, const Header &h, uint8_t cmd, const std::map<uint16_t, Bytes> &a,
		   std::vector<Bytes> &out)
{
	auto phy = u32_attr(a, 2), reg = u32_attr(a, 4), val = u32_attr(a, 5);
	if (!reg || (cmd == 4 && !val)) {
		out.push_back(ack(h, -EINVAL));
		return;
	}
	Bytes attrs;
	uint32_t v = val.value_or(0);
	bool ok = true;
	if (phy)
		ok = cmd == 3 ? model.phy_read(*phy, *reg, v, kVia) : model.phy_write(*phy, *reg, v, kVia);
	else if (cmd == 3)
		v = model.read(*reg, kVia);
	else
		model.write(*reg, v, kVia);
	if (!ok) {
		put_attr(attrs, 1, "No such PHY", 12);
	} else {
		if (phy)
			put_attr(attrs, 2, &*phy, 4);
		put_attr(attrs, 4, &*reg, 4);
		put_attr(attrs, 5, &v, 4);
	}
	out.push_back(message(h, kMt753xFamily, cmd, attrs));
	out.push_back(ack(h, 0));
}

void answer_family(SwitchModel &model, const Header &h, uint8_t cmd, const std::map<uint16_t, Bytes> &a,
		   std::vector<Bytes> &out)
{
	if (!model.netlink) {
		out.push_back(ack(h, -ENOENT));
	} else if (cmd == 3 || cmd == 4) {
		answer_access(model, h, cmd, a, out);
	} else if (cmd == 5 && u32_attr(a, 2)) {
		uint32_t port = *u32_attr(a, 2);
		std::array<uint64_t, 2> ts = model.port_ts(port, kVia);
		Bytes attrs;
		put_attr(attrs, 2, &port, 4);
		put_attr(attrs, 8, &ts[0], 8);
		put_attr(attrs, 9, &ts[1], 8);
		out.push_back(message(h, kMt753xFamily, cmd, attrs));
		out.push_back(ack(h, 0));
	} else {
		out.push_back(ack(h, -EOPNOTSUPP));
	}
}

} // namespace

std::vector<Bytes> answer_genl(SwitchModel &model, const Bytes &request)
{
	std::vector<Bytes> out;
	size_t at = 0;
	while (request.size() - at >= 16) {
		const uint8_t *p = request.data() + at;
		Header h{u32_at(p), u32_at(p + 8), u32_at(p + 12), u16_at(p + 4), u16_at(p + 6)};
		if (h.len < 16 || h.len > request.size() - at)
			break;
		auto attrs = h.len >= 20 ? attrs_of(p + 20, h.len - 20) : std::nullopt;
		if (!attrs)
			out.push_back(ack(h, -EINVAL));
		else if (h.type == kCtrl)
			answer_ctrl(model, h, p[16], *attrs, out);
		else if (h.type == kMt753xFamily)
			answer_family(model, h, p[16], *attrs, out);
		else
			out.push_back(ack(h, -ENOENT));
		at += std::min<size_t>((h.len + 3u) & ~3u, request.size() - at);
	}
	return out;
}

Bytes answer_eth(SwitchModel &model, const Bytes &request)
{
	kite::simwire::IoctlRequest req;
	kite::simwire::IoctlReply reply = {};
	reply.result = -1;
	reply.error = EINVAL;
	if (request.size() == sizeof(req)) {
		std::memcpy(&req, request.data(), sizeof(req));
		std::memcpy(reply.words, req.words, sizeof(req.words));
		bool eth0 = std::memcmp(req.ifr, "eth0", 5) == 0;
		uint32_t phy = req.words[0], reg = req.words[1];
		bool ok = false;
		if (!eth0) {
			reply.error = ENODEV;
		} else if (req.request == 0x89F3) {
			ok = phy == 31 ? (reply.words[2] = model.read(reg, "ioctl"), true)
				       : model.phy_read(phy, reg, reply.words[2], "ioctl");
		} else if (req.request == 0x89F4) {
			ok = phy == 31 ? (model.write(reg, req.words[2], "ioctl"), true)
				       : model.phy_write(phy, reg, req.words[2], "ioctl");
		} else {
			reply.error = EOPNOTSUPP;
		}
		if (ok)
			reply.result = reply.error = 0;
	}
	Bytes out(sizeof(reply));
	std::memcpy(out.data(), &reply, sizeof(reply));
	return out;
}

} // namespace sim
