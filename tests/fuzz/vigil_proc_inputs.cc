// vigil's /proc readers under untrusted texts.
#include "vigil_proc_inputs.h"

#include <filesystem>
#include <string>

#include "cpu_sampler.h"
#include "fuzz_root.h"
#include "fuzz_text.h"
#include "net_stats.h"

namespace wlcfuzz {

namespace {

void put_text(const std::string &path, const std::string &text)
{
	put_device_file(path, reinterpret_cast<const uint8_t *>(text.data()), text.size());
}

// A VLAN bridge (its port eth0.10) and the counters sysfs keeps per interface.
void make_sysfs()
{
	put_text("/sys/class/net/eth0.10/address", "00:11:22:33:44:55\n");
	std::error_code ec;
	std::filesystem::create_directories(private_root() + "/sys/class/net/br-vlan10/brif", ec);
	std::filesystem::create_symlink("../../eth0.10", private_root() + "/sys/class/net/br-vlan10/brif/eth0.10", ec);
	for (const char *ifname : {"lo", "eth0", "br-vlan10", "wlan0"})
		for (const char *counter : {"rx_crc_errors", "rx_over_errors", "tx_window_errors"})
			put_text(std::string("/sys/class/net/") + ifname + "/statistics/" + counter, "3\n");
}

} // namespace

void vigil_proc_one_input(const uint8_t *data, size_t size)
{
	static const bool sysfs = (make_sysfs(), true);
	(void)sysfs;
	std::vector<uint8_t> copy;
	if (FilePtr f = open_bytes(data, size, copy))
		(void)vigil::read_cpu_jiffies(f.get());
	if (FilePtr f = open_bytes(data, size, copy))
		(void)vigil::read_iface_counters(f.get());
	if (FilePtr f = open_bytes(data, size, copy)) {
		wlc::BlobBuf reply;
		if (vigil::read_arp(f.get(), reply))
			(void)reply.json();
	}
}

} // namespace wlcfuzz
