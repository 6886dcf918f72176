// libzev's release and uptime readers under untrusted texts.
#include "zev_devinfo_inputs.h"

#include <zev/devinfo.h>

#include <cstdlib>
#include <cstring>

#include "fuzz_root.h"

namespace wlcfuzz {

namespace {

template <size_t N> bool terminated(const char (&field)[N])
{
	return std::memchr(field, '\0', N) != nullptr;
}

void check_release(const zev_release &rel)
{
	if (!terminated(rel.id) || !terminated(rel.codename) || !terminated(rel.release) || !terminated(rel.revision))
		std::abort();
	bool dated = rel.build_year != 0 || rel.build_month != 0 || rel.build_day != 0;
	if (dated && (rel.build_month < 1 || rel.build_month > 12 || rel.build_day < 1 || rel.build_day > 31))
		std::abort();
}

} // namespace

void zev_devinfo_one_input(const uint8_t *data, size_t size)
{
	if (size > 1 << 16)
		return;
	put_device_file("/etc/openwrt_release", data, size);
	zev_release rel;
	if (zev_devinfo_release_read("/etc/openwrt_release", &rel) != 0)
		std::abort(); // the file is there
	check_release(rel);

	put_device_file("/proc/uptime", data, size);
	if (zev_devinfo_uptime() < -1)
		std::abort();
}

} // namespace wlcfuzz
