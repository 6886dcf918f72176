// libzev's factory layout reader under untrusted layout files.
#include "zev_factory_inputs.h"

#include <zev/factory.h>

#include <json-c/json.h>

#include <array>
#include <string>
#include <vector>

#include "fuzz_root.h"

namespace wlcfuzz {

namespace {

// The device: a partition table naming the factory partition, and the
// partition itself (64 KiB of a repeating pattern).
void make_device()
{
	static const std::string mtd = "dev:    size   erasesize  name\n"
				       "mtd2: 00010000 00010000 \"u-boot\"\n"
				       "mtd3: 00010000 00010000 \"Factory\"\n";
	put_device_file("/proc/mtd", reinterpret_cast<const uint8_t *>(mtd.data()), mtd.size());
	std::vector<uint8_t> partition(0x10000);
	for (size_t i = 0; i < partition.size(); i++)
		partition[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
	put_device_file("/dev/mtd3", partition.data(), partition.size());
}

json_object *tokenise(const uint8_t *data, size_t size)
{
	json_tokener *tok = json_tokener_new();
	if (!tok)
		return nullptr;
	json_object *obj = json_tokener_parse_ex(tok, reinterpret_cast<const char *>(data), static_cast<int>(size));
	json_tokener_free(tok);
	return obj;
}

} // namespace

void zev_factory_one_input(const uint8_t *data, size_t size)
{
	static const bool device = (make_device(), true);
	(void)device;
	if (size > 1 << 20)
		return;
	json_object *layout = tokenise(data, size);
	if (!layout)
		return;
	zev_factory *f = zev_factory_layout_from_json(layout, 0);
	json_object_put(layout);
	if (!f)
		return;
	std::array<uint8_t, 96> buf;
	for (uint64_t i = 0; i < f->count; i++)
		(void)zev_factory_layout_read(f, f->items[i].name, buf.data(), buf.size());
	(void)zev_factory_layout_read(f, "sn", buf.data(), 32);
	(void)zev_factory_layout_read(f, "lan", buf.data(), 6);
	zev_factory_free(f);
}

} // namespace wlcfuzz
