// The switch configuration library for simulated devices: the switch is the
// one the device simulator describes under /var/lib/sim/switch in the device
// root (per port: "mib" text, "link" and "pvid").
#include <wlc/c/swlib.h>

#include <fsroot/fsroot.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

namespace {

constexpr const char *kSwitchDir = "/var/lib/sim/switch";

switch_attr port_attrs[3] = {
	{nullptr, SWLIB_ATTR_GROUP_PORT, 0, SWITCH_TYPE_STRING, "mib", "Get port's MIB counters", &port_attrs[1]},
	{nullptr, SWLIB_ATTR_GROUP_PORT, 1, SWITCH_TYPE_LINK, "link", "Get port link information", &port_attrs[2]},
	{nullptr, SWLIB_ATTR_GROUP_PORT, 2, SWITCH_TYPE_INT, "pvid", "Primary VLAN ID", nullptr},
};

switch_port_link last_link;

bool read_port_file(int port, const char *name, std::string &out)
{
	std::ifstream in(wlc::root_path(std::string(kSwitchDir) + "/port" + std::to_string(port) + "/" + name));
	if (!in)
		return false;
	std::ostringstream ss;
	ss << in.rdbuf();
	out = ss.str();
	return true;
}

// "link:up speed:1000baseT full-duplex auto txflow rxflow" as the driver prints it.
void parse_link(const std::string &text, switch_port_link &link)
{
	link = {};
	link.link = text.find("link:up") != std::string::npos ? 1 : 0;
	link.duplex = text.find("full-duplex") != std::string::npos ? 1 : 0;
	link.aneg = text.find("auto") != std::string::npos ? 1 : 0;
	link.tx_flow = text.find("txflow") != std::string::npos ? 1 : 0;
	link.rx_flow = text.find("rxflow") != std::string::npos ? 1 : 0;
	auto at = text.find("speed:");
	link.speed = at == std::string::npos ? 0 : std::atoi(text.c_str() + at + 6);
}

} // namespace

extern "C" {

switch_dev *swlib_connect(const char *name)
{
	struct stat st;
	std::string dir = wlc::root_path(kSwitchDir);
	if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
		return nullptr;
	std::string ports_text;
	std::ifstream in(dir + "/ports");
	int ports = 0;
	in >> ports;
	if (name && std::strcmp(name, "switch0") != 0)
		return nullptr;
	auto *dev = static_cast<switch_dev *>(std::calloc(1, sizeof(switch_dev)));
	if (!dev)
		return nullptr;
	std::strncpy(dev->dev_name, "switch0", IFNAMSIZ - 1);
	dev->name = strdup("mt753x");
	dev->ports = ports;
	dev->vlans = 4096;
	return dev;
}

void swlib_free(switch_dev *dev)
{
	if (!dev)
		return;
	std::free(dev->name);
	std::free(dev);
}

void swlib_free_all(switch_dev *dev)
{
	while (dev) {
		switch_dev *next = dev->next;
		swlib_free(dev);
		dev = next;
	}
}

int swlib_scan(switch_dev *dev)
{
	if (!dev)
		return -1;
	dev->port_ops = port_attrs;
	return 0;
}

switch_attr *swlib_lookup_attr(switch_dev *dev, swlib_attr_group atype, const char *name)
{
	if (!dev || !name || atype != SWLIB_ATTR_GROUP_PORT)
		return nullptr;
	for (switch_attr *a = dev->port_ops; a; a = a->next)
		if (std::strcmp(a->name, name) == 0)
			return a;
	return nullptr;
}

int swlib_get_attr(switch_dev *dev, switch_attr *attr, switch_val *val)
{
	if (!dev || !attr || !val || val->port_vlan < 0 || val->port_vlan >= dev->ports)
		return -1;
	std::string text;
	if (!read_port_file(val->port_vlan, attr->name, text))
		return -1;
	val->attr = attr;
	switch (attr->type) {
	case SWITCH_TYPE_STRING:
		val->value.s = strdup(text.c_str());
		return val->value.s ? 0 : -1;
	case SWITCH_TYPE_LINK:
		parse_link(text, last_link);
		val->value.link = &last_link;
		return 0;
	default:
		val->value.i = std::atoi(text.c_str());
		return 0;
	}
}

} // extern "C"
