// Choosing a back end and the register calls that go straight to it.
#include <libkite/libkite.h>

#include <array>
#include <cerrno>

#include "backend.h"
#include "guard.h"

namespace kite {

namespace {

Backend *current_backend = nullptr;

std::array<Backend, 2> &table()
{
	static std::array<Backend, 2> t = {netlink_backend(), ioctl_backend()};
	return t;
}

} // namespace

std::span<Backend> backends()
{
	return table();
}

Backend *current()
{
	return current_backend;
}

void set_current(Backend *b)
{
	current_backend = b;
}

} // namespace kite

using kite::current;

extern "C" {

int libkite_mii_init(void)
{
	return kite::guarded([] {
		libkite_mii_uninit();
		for (kite::Backend &b : kite::backends()) {
			if (b.init(b) == 0) {
				kite::set_current(&b);
				return 0;
			}
		}
		return -ENOENT;
	});
}

int libkite_mii_uninit(void)
{
	kite::Backend *b = current();
	if (!b)
		return -ENODEV;
	kite::set_current(nullptr);
	return b->uninit(*b);
}

const char *libkite_mii_get_driver_name(void)
{
	kite::Backend *b = current();
	return b ? b->name : nullptr;
}

int libkite_mii_reg_read(int phy, int reg, uint32_t *value)
{
	kite::Backend *b = current();
	if (!b)
		return -ENODEV;
	if (phy < 0 || reg < 0 || !value)
		return -EINVAL;
	return kite::guarded([&] { return b->mii_read(*b, phy, reg, value); });
}

int libkite_mii_reg_write(int phy, int reg, uint32_t value)
{
	kite::Backend *b = current();
	if (!b)
		return -ENODEV;
	if (phy < 0 || reg < 0)
		return -EINVAL;
	return kite::guarded([&] { return b->mii_write(*b, phy, reg, value); });
}

int libkite_switch_reg_read(int reg, uint32_t *value)
{
	kite::Backend *b = current();
	if (!b)
		return -ENODEV;
	if (reg < 0 || !value)
		return -EINVAL;
	return kite::guarded([&] { return b->switch_read(*b, reg, value); });
}

int libkite_switch_reg_write(int reg, uint32_t value)
{
	kite::Backend *b = current();
	if (!b)
		return -ENODEV;
	if (reg < 0)
		return -EINVAL;
	return kite::guarded([&] { return b->switch_write(*b, reg, value); });
}

int libkite_switch_port_ts(int port, uint64_t ts[2])
{
	kite::Backend *b = current();
	if (!b)
		return -ENODEV;
	if (port < 0 || !ts)
		return -EINVAL;
	return kite::guarded([&] { return b->port_ts(*b, port, ts); });
}

} // extern "C"
