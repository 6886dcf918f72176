// Per-port MIB counters, read register by register.
#include <libkite/libkite.h>

#include <cerrno>

#include "backend.h"
#include "guard.h"

namespace {

constexpr int kMaxPort = 7;
constexpr uint32_t kMibBase = 0x4000;
constexpr uint32_t kMibStride = 0x100;
constexpr int kTornRetries = 3;

struct Reader {
	kite::Backend &b;
	uint32_t base;
	int sum = 0;

	uint32_t word(uint32_t offset)
	{
		uint32_t v = 0;
		int ret = b.switch_read(b, static_cast<int>(base + offset), &v);
		sum += ret;
		return ret == 0 ? v : 0;
	}

	// A 64-bit counter whose high word lies 4 bytes above the low word. The
	// low word may carry into the high one between the two reads: read high,
	// low, high, and again while the high words differ.
	uint64_t wide(uint32_t low)
	{
		for (int attempt = 0; attempt < kTornRetries; attempt++) {
			int before = sum;
			uint32_t hi = word(low + 4);
			uint32_t lo = word(low);
			uint32_t hi2 = word(low + 4);
			if (sum != before)
				return 0;
			if (hi == hi2)
				return (uint64_t(hi) << 32) | lo;
		}
		sum += -EAGAIN;
		return 0;
	}
};

void fill(Reader &r, libkite_port_cnt &c)
{
	c.rx_bytes = r.wide(0xA8);
	c.tx_bytes = r.wide(0x48);
	c.rx_unicast = r.word(0x68);
	c.rx_multicast = r.word(0x6C);
	c.rx_broadcast = r.word(0x70);
	c.tx_unicast = r.word(0x08);
	c.tx_multicast = r.word(0x0C);
	c.tx_broadcast = r.word(0x10);
	c.rx_drop = r.word(0x60);
	c.rx_pause = r.word(0x8C);
	c.rx_crc_err = r.word(0x78);
	c.tx_drop = r.word(0x00);
	c.tx_pause = r.word(0x2C);
	c.tx_crc_err = r.word(0x04);
	c.rx_pkts = c.rx_unicast + c.rx_multicast + c.rx_broadcast;
	c.tx_pkts = c.tx_unicast + c.tx_multicast + c.tx_broadcast;
}

} // namespace

extern "C" int libkite_switch_get_port_cnt(int port, struct libkite_port_cnt *cnt)
{
	kite::Backend *b = kite::current();
	if (!b)
		return -ENODEV;
	if (port < 0 || port > kMaxPort || !cnt)
		return -EINVAL;
	return kite::guarded([&] {
		Reader r{*b, kMibBase + static_cast<uint32_t>(port) * kMibStride};
		libkite_port_cnt c = {};
		fill(r, c);
		*cnt = c;
		return r.sum;
	});
}
