// ONLINE and JOIN_REQ messages.
#include "identity.h"

#include <fsroot/fsroot.h>
#include <wlc/log.h>
#include <zev/devinfo.h>
#include <zev/factory.h>
#include <zev/util.h>

#include <arpa/inet.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace mast {

namespace {

constexpr const char *kProtocol = "1.0.0";
constexpr size_t kCertLimit = 4095;
constexpr size_t kHostNameLimit = 64;

// The whole file when it holds at most limit bytes; nullopt when it cannot
// be read or is longer.
std::optional<std::string> read_small_file(const std::string &path, size_t limit)
{
	std::ifstream in(wlc::root_path(path), std::ios::binary);
	if (!in)
		return std::nullopt;
	std::string text(limit + 1, '\0');
	in.read(text.data(), static_cast<std::streamsize>(text.size()));
	if (in.bad())
		return std::nullopt;
	text.resize(static_cast<size_t>(in.gcount()));
	if (text.size() > limit)
		return std::nullopt;
	return text;
}

void add_identity(wlc::BlobBuf &buf)
{
	buf.add("model", zev_devinfo_model());
	buf.add("serial", zev_devinfo_serial());
	buf.add("fw_version", zev_devinfo_fw_version());
	buf.add("fw_revision", zev_devinfo_fw_revision());
	buf.add("protocol", kProtocol);
	buf.add("mac", lan_mac());
	std::string name = host_name();
	if (!name.empty())
		buf.add("hostname", name);
}

void add_running_config(wlc::BlobBuf &buf)
{
	wlc::BlobBuf config;
	std::ifstream in(wlc::root_path("/tmp/running.config"), std::ios::binary);
	std::ostringstream text;
	text << in.rdbuf();
	bool loaded = in && config.add_json(text.str());
	auto table = buf.table("config");
	if (loaded)
		buf.add_fields(config.head());
}

} // namespace

std::string online_topic()
{
	return std::string("zev/wlc/control/ap/") + zev_devinfo_id() + "/online";
}

const std::string &lan_mac()
{
	static const std::string mac = [] {
		std::array<uint8_t, 6> b = {};
		if (zev_factory *f = zev_factory_init(nullptr, 0)) {
			if (zev_factory_layout_read(f, "lan", b.data(), b.size()) != static_cast<int>(b.size()))
				b.fill(0);
			zev_factory_free(f);
		}
		char text[18];
		std::snprintf(text, sizeof(text), "%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4], b[5]);
		return std::string(text);
	}();
	return mac;
}

std::string management_ip()
{
	uint32_t addr = 0, mask = 0;
	if (zev_devinfo_ipv4(&addr, &mask) != 0)
		return {};
	in_addr a = {htonl(addr)};
	char text[INET_ADDRSTRLEN];
	if (!inet_ntop(AF_INET, &a, text, sizeof(text)))
		return {};
	return std::string(text) + "/" + std::to_string(zev_net_mask_to_prefix(mask));
}

std::string host_name()
{
	std::optional<std::string> name = read_small_file("/proc/sys/kernel/hostname", kHostNameLimit + 1);
	if (!name)
		return {};
	while (!name->empty() && (name->back() == '\n' || name->back() == '\0'))
		name->pop_back();
	if (name->size() > kHostNameLimit)
		name->resize(kHostNameLimit);
	return *name;
}

void build_online(wlc::BlobBuf &buf, bool online)
{
	buf.reset();
	buf.add_bool("online", online);
	add_identity(buf);
	std::string ip = management_ip();
	if (!ip.empty())
		buf.add("ip", ip);
}

void build_join_request(wlc::BlobBuf &buf)
{
	buf.reset();
	std::string ip = management_ip();
	if (!ip.empty())
		buf.add("ip", ip);
	add_running_config(buf);
	add_identity(buf);
	// A certificate that does not fit is not sent at all: a cut one would be
	// taken for the whole.
	// A JOIN_REQ goes out every cycle: the lack is noted once, and again only
	// after a certificate was there in between.
	static bool lack_noted = false;
	std::optional<std::string> cert = read_small_file("/data/ssl/mqtt.crt", kCertLimit);
	if (cert) {
		buf.add("cert", *cert);
		lack_noted = false;
	} else if (!lack_noted) {
		wlc::logf(LOG_WARNING, "Client certificate missing or longer than %zu bytes: JOIN_REQ without it", kCertLimit);
		lack_noted = true;
	}
}

} // namespace mast
