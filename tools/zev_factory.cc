// zev_factory: reads factory items through the layout file, or prints the
// partition checksum.
//   zev_factory <action> <type> [<item>]
#include <zev/factory.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kFailure = 255;

int bad_args()
{
	std::fprintf(stderr, "Bad args!\n");
	std::fprintf(stderr, "Syntax: zev_factory <action> <type> [<item>]\n");
	return kFailure;
}

// Opens the layout, reads the item, releases the layout; -1 when it cannot be opened.
int read_item(const char *item, void *buf, size_t len)
{
	zev_factory *f = zev_factory_init(nullptr, 0);
	if (!f)
		return -1;
	int n = zev_factory_layout_read(f, item, buf, len);
	zev_factory_free(f);
	return n;
}

int checksum(const char *type, const char *item)
{
	uint8_t digest[16];
	zev_factory *f = zev_factory_init(nullptr, 0);
	int n = f ? zev_factory_layout_checksum(f, item, digest) : -1;
	zev_factory_free(f);
	if (n == 16) {
		if (type[0] == 'b') {
			std::fwrite(digest, 1, sizeof(digest), stdout);
			return 0;
		}
		if (type[0] == 'h') {
			for (uint8_t b : digest)
				std::printf("%02x", b);
			std::printf("\n");
			return 0;
		}
		std::fprintf(stderr, "Unknown type '%s'!\n", type);
	}
	std::fprintf(stderr, "Failed to claculate checksum!\n");
	return kFailure;
}

bool read_bytes(const char *type, const char *item)
{
	uint8_t buf[128] = {};
	int n = read_item(item, buf, type[0] == 's' ? 127 : sizeof(buf));
	if (n < 1) {
		std::fprintf(stderr, "Failed to read string '%s' from factory!\n", item);
		return false;
	}
	if (type[0] == 'b') {
		std::fwrite(buf, 1, static_cast<size_t>(n), stdout);
	} else if (type[0] == 'h') {
		for (int i = 0; i < n; i++)
			std::printf("%02X", buf[i]);
		std::printf("\n");
	} else {
		std::printf("%s\n", reinterpret_cast<char *>(buf));
	}
	return true;
}

bool read_mac(const char *item)
{
	uint8_t mac[6];
	std::memset(mac, 0xFF, sizeof(mac));
	if (read_item(item, mac, sizeof(mac)) != 6) {
		std::fprintf(stderr, "Failed to read mac '%s' from factory!\n", item);
		return false;
	}
	std::printf("%02x:%02x:%02x:%02x:%02x:%02x\n", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
	return true;
}

int read_action(const char *type, const char *item)
{
	bool ok;
	switch (type[0]) {
	case 'b':
	case 'h':
	case 's':
		ok = read_bytes(type, item);
		break;
	case 'm':
		ok = read_mac(item);
		break;
	default:
		std::fprintf(stderr, "Unknown type '%s'!\n", type);
		ok = false;
		break;
	}
	if (!ok) {
		std::fprintf(stderr, "Failed to read %s!\n", item);
		return kFailure;
	}
	return 0;
}

} // namespace

int main(int argc, char **argv)
{
	if (argc < 3)
		return bad_args();
	const char *action = argv[1];
	const char *type = argv[2];
	if (action[0] == 'c')
		return checksum(type, argc > 3 ? argv[3] : nullptr);
	if (action[0] == 'r') {
		if (argc != 4)
			return bad_args();
		return read_action(type, argv[3]);
	}
	std::fprintf(stderr, "Unknown action '%s'!\n", action);
	return kFailure;
}
