// factory_dump: prints one item of the "Factory" flash partition from a
// compiled-in item table, so it works without the layout file.
//   factory_dump [-b] r <item>
#include <fsroot/fsroot.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace {

struct Item {
	char name[16];
	char label[32];
	uint64_t offset;
	uint64_t length;
	bool text;
	char separator; // between hex bytes; 0 for none
};

constexpr Item kItems[] = {
	{"wan", "WAN MAC", 0xE006, 6, false, ':'},
	{"lan", "LAN MAC", 0xE000, 6, false, ':'},
	{"wlan", "WLAN MAC", 0x0004, 6, false, ':'},
	{"wlan2", "WLAN2 MAC", 0x100004, 6, false, ':'},
	{"sn", "Serial Number", 0x1FFF80, 32, true, 0},
	{"ssid", "WLAN SSID", 0x1FFFA0, 32, true, 0},
	{"psk", "WLAN PSK", 0x1FFFC0, 32, true, 0},
	{"crc", "Factory Checksum", 0x1FFFE0, 32, true, 0},
	{"admin_login", "Admin Login", 0x1FFF40, 32, true, 0},
	{"admin_password", "Admin Password", 0x1FFF60, 32, true, 0},
	{"user_login", "User Login", 0x1FFF00, 32, true, 0},
	{"user_password", "User Password", 0x1FFF20, 32, true, 0},
	{"pubkey", "Public Key", 0x1FFE80, 64, false, 0},
	{"prod", "Ready for prod", 0x1FFE7C, 4, false, 0},
};

constexpr int kFailure = 255;

int usage(const char *prog)
{
	std::printf("How to use:\n");
	std::printf("\tread:   %s r <lan|wan|wlan|wlan2|sn|ssid|psk|crc>\n", prog);
	std::printf("\tread:   %s r <admin_login|admin_password|user_login|user_password>\n", prog);
	std::printf("Additional options:\n");
	std::printf("\t-b - output factory item as raw binary data\n");
	return kFailure;
}

const Item *find_item(std::string_view name)
{
	for (const Item &item : kItems)
		if (name == item.name)
			return &item;
	return nullptr;
}

int open_factory()
{
	FILE *mtd = std::fopen(wlc::root_path("/proc/mtd").c_str(), "re");
	if (!mtd)
		return -1;
	char line[80];
	int index = -1;
	while (std::fgets(line, sizeof(line), mtd)) {
		int n;
		if (std::sscanf(line, "mtd%d:", &n) == 1 && std::strstr(line, "Factory")) {
			index = n;
			break;
		}
	}
	std::fclose(mtd);
	if (index < 0)
		return -1;
	char path[32];
	std::snprintf(path, sizeof(path), "/dev/mtd%d", index);
	int fd = open(wlc::root_path(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0) {
		std::snprintf(path, sizeof(path), "/dev/mtd/%d", index);
		fd = open(wlc::root_path(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	}
	return fd;
}

void print_item(const Item &item, const uint8_t *buf, bool raw)
{
	if (raw) {
		std::fwrite(buf, 1, item.length, stdout);
		return;
	}
	if (item.text) {
		for (uint64_t i = 0; i < item.length && buf[i] != 0x00 && buf[i] != 0xFF; i++)
			std::putchar(buf[i]);
	} else {
		for (uint64_t i = 0; i < item.length; i++) {
			if (i && item.separator)
				std::putchar(item.separator);
			std::printf("%02X", buf[i]);
		}
	}
	std::putchar('\n');
}

} // namespace

int main(int argc, char **argv)
{
	bool raw = false;
	int ch;
	while ((ch = getopt(argc, argv, "b")) != -1) {
		if (ch != 'b')
			return usage(argv[0]);
		raw = true;
	}
	if (argc - optind < 2)
		return usage(argv[0]);
	const char *action = argv[optind];
	const Item *item = find_item(argv[optind + 1]);
	if (!item || action[0] != 'r')
		return usage(argv[0]);

	int fd = open_factory();
	if (fd < 0) {
		std::fprintf(stderr, "Could not open mtd device\n");
		return kFailure;
	}
	uint8_t buf[128];
	std::memset(buf, item->text ? 0x00 : 0xFF, sizeof(buf));
	if (lseek(fd, static_cast<off_t>(item->offset), SEEK_SET) < 0 || read(fd, buf, item->length) < 0) {
		std::fprintf(stderr, "Reading from mtd failed\n");
		close(fd);
		return kFailure;
	}
	print_item(*item, buf, raw);
	close(fd);
	return 0;
}
