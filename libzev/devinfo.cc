// Device identity, cached for the life of the process.
#include <zev/devinfo.h>
#include <zev/factory.h>
#include <zev/util.h>

#include <fsroot/fsroot.h>

#include "devinfo_internal.h"
#include "driver/seam.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <json-c/json.h>
#include <net/if.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Each field holds its whole value and a terminator: the serial item is 32
// bytes, a board name up to 24, and the identifier a whole model name (its
// "zev-" prefix dropped) with the three MAC byte pairs.
constexpr size_t kSerialItem = 32;
constexpr size_t kModelText = 24;
constexpr size_t kIdSuffix = sizeof("-xx-xx-xx") - 1;

char serial_cache[kSerialItem + 1];
char model_cache[kModelText + 1];
char id_cache[kModelText + kIdSuffix + 1];
char fw_version_cache[64];
char fw_revision_cache[64];

// Copies at most the field's width, keeping the field zero-terminated.
template <size_t N>
void copy_field(char (&field)[N], const char *value)
{
	std::strncpy(field, value, N - 1);
	field[N - 1] = '\0';
}

int read_factory_item(const char *item, void *dst, size_t len)
{
	zev_factory *f = zev_factory_init(nullptr, 0);
	if (!f)
		return -1;
	int n = zev_factory_layout_read(f, item, dst, len);
	zev_factory_free(f);
	return n;
}

void model_from_board_json()
{
	json_object *board = json_object_from_file(wlc::root_path("/etc/board.json").c_str());
	if (!board)
		return;
	json_object *model, *id;
	if (json_object_object_get_ex(board, "model", &model) && json_object_is_type(model, json_type_object) &&
	    json_object_object_get_ex(model, "id", &id) && json_object_is_type(id, json_type_string))
		copy_field(model_cache, json_object_get_string(id));
	json_object_put(board);
}

void read_firmware(const char *key, const char *value, void *)
{
	if (strcasecmp(key, "DISTRIB_RELEASE") == 0)
		copy_field(fw_version_cache, value);
	else if (strcasecmp(key, "DISTRIB_REVISION") == 0)
		copy_field(fw_revision_cache, value);
}

void load_firmware()
{
	if (fw_version_cache[0])
		return;
	zev_util_keyval_read("/etc/openwrt_release", read_firmware, nullptr);
}

// A build date YYYYMMDD; anything else (other length, a non-digit, no such
// month or day) leaves the date unset.
void read_build_date(const char *value, zev_release &rel)
{
	if (std::strlen(value) != 8 || !std::all_of(value, value + 8, [](char c) { return c >= '0' && c <= '9'; }))
		return;
	auto number = [value](int from, int count) {
		int n = 0;
		for (int i = from; i < from + count; i++)
			n = n * 10 + (value[i] - '0');
		return n;
	};
	int month = number(4, 2), day = number(6, 2);
	if (month < 1 || month > 12 || day < 1 || day > 31)
		return;
	rel.build_year = static_cast<uint16_t>(number(0, 4));
	rel.build_month = static_cast<uint8_t>(month);
	rel.build_day = static_cast<uint8_t>(day);
}

void read_release(const char *key, const char *value, void *user)
{
	auto *rel = static_cast<zev_release *>(user);
	if (strcasecmp(key, "DISTRIB_ID") == 0) {
		copy_field(rel->id, value);
	} else if (strcasecmp(key, "DISTRIB_CODENAME") == 0) {
		copy_field(rel->codename, value);
	} else if (strcasecmp(key, "DISTRIB_RELEASE") == 0) {
		copy_field(rel->release, value);
	} else if (strcasecmp(key, "DISTRIB_REVISION") == 0) {
		std::strncpy(rel->revision, value, 32);
		rel->revision[sizeof(rel->revision) - 1] = '\0';
	} else if (strcasecmp(key, "DISTRIB_BUILDDATE") == 0) {
		read_build_date(value, *rel);
	}
}

pid_t reader_pid = -1;

// Starts a program found through PATH with one argument; its standard output
// is the returned stream.
FILE *run_reader(const char *program, const char *arg)
{
	int fds[2];
	if (pipe2(fds, O_CLOEXEC) < 0)
		return nullptr;
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
	char *argv[] = {const_cast<char *>(program), const_cast<char *>(arg), nullptr};
	int err = posix_spawnp(&reader_pid, program, &actions, nullptr, argv, environ);
	posix_spawn_file_actions_destroy(&actions);
	close(fds[1]);
	if (err != 0) {
		close(fds[0]);
		return nullptr;
	}
	FILE *f = fdopen(fds[0], "r");
	if (!f) {
		close(fds[0]);
		waitpid(reader_pid, nullptr, 0);
	}
	return f;
}

void close_reader(FILE *f)
{
	std::fclose(f);
	waitpid(reader_pid, nullptr, 0);
}

int query_bridge(int sock, unsigned long req, uint32_t *out)
{
	ifreq ifr = {};
	std::strncpy(ifr.ifr_name, "br-con", IFNAMSIZ - 1);
	ifr.ifr_addr.sa_family = AF_INET;
	if (zev::seam::request(sock, req, &ifr) < 0)
		return -1;
	sockaddr_in sin;
	std::memcpy(&sin, &ifr.ifr_addr, sizeof(sin));
	*out = ntohl(sin.sin_addr.s_addr);
	return 0;
}

} // namespace

namespace zev::devinfo {

void forget_cached()
{
	for (char *cache : {serial_cache, model_cache, id_cache, fw_version_cache, fw_revision_cache})
		cache[0] = '\0';
}

} // namespace zev::devinfo

extern "C" {

const char *zev_devinfo_serial(void)
{
	if (!serial_cache[0]) {
		char buf[kSerialItem] = {};
		if (read_factory_item("sn", buf, sizeof(buf)) > 0) {
			std::memcpy(serial_cache, buf, sizeof(buf));
			serial_cache[kSerialItem] = '\0';
		}
	}
	return serial_cache;
}

const char *zev_devinfo_model(void)
{
	if (model_cache[0])
		return model_cache;
	FILE *f = std::fopen(wlc::root_path("/tmp/sysinfo/board_name").c_str(), "re");
	if (f) {
		size_t n = std::fread(model_cache, 1, kModelText, f);
		model_cache[n] = '\0';
		model_cache[std::strcspn(model_cache, "\n")] = '\0';
		std::fclose(f);
	}
	if (!model_cache[0])
		model_from_board_json();
	return model_cache;
}

const char *zev_devinfo_id(void)
{
	if (id_cache[0])
		return id_cache;
	uint8_t mac[6] = {};
	read_factory_item("lan", mac, sizeof(mac));
	const char *model = zev_devinfo_model();
	if (std::strncmp(model, "zev-", 4) == 0)
		model += 4;
	std::snprintf(id_cache, sizeof(id_cache), "%s-%02x-%02x-%02x", model, mac[3], mac[4], mac[5]);
	return id_cache;
}

const char *zev_devinfo_fw_version(void)
{
	load_firmware();
	return fw_version_cache;
}

const char *zev_devinfo_fw_revision(void)
{
	load_firmware();
	return fw_revision_cache;
}

int zev_devinfo_ipv4(uint32_t *addr, uint32_t *netmask)
{
	int sock = zev::seam::request_socket();
	if (sock < 0)
		return -1;
	int ret = 0;
	if (addr && query_bridge(sock, SIOCGIFADDR, addr) < 0)
		ret = -1;
	if (ret == 0 && netmask && query_bridge(sock, SIOCGIFNETMASK, netmask) < 0)
		ret = -1;
	close(sock);
	return ret;
}

int64_t zev_devinfo_uptime(void)
{
	FILE *f = std::fopen(wlc::root_path("/proc/uptime").c_str(), "re");
	if (!f)
		return -1;
	double up;
	int n = std::fscanf(f, "%lf", &up);
	std::fclose(f);
	// Seconds since boot: a reading that is not one (negative, not a number,
	// beyond any count) is no reading.
	if (n != 1 || !(up >= 0 && up < 9.2e18))
		return -1;
	return static_cast<int64_t>(up);
}

int zev_devinfo_get_env(const char *name, char *dst, size_t len)
{
	if (!name || !dst)
		return -1;
	// The name is passed as an argument, never through a shell.
	char arg[128];
	std::snprintf(arg, sizeof(arg) - std::strlen("fw_printenv "), "%s", name);
	FILE *p = run_reader("fw_printenv", arg);
	if (!p)
		return -1;
	char line[256];
	int ret = -1;
	if (std::fgets(line, sizeof(line), p)) {
		if (char *eq = std::strchr(line, '=')) {
			if (len > 0) {
				std::strncpy(dst, eq + 1, len - 1);
				dst[len - 1] = '\0';
				dst[std::strcspn(dst, "\n")] = '\0';
			}
			ret = 0;
		}
	}
	close_reader(p);
	return ret;
}

int zev_devinfo_release_read(const char *path, zev_release *release)
{
	std::memset(release, 0, sizeof(*release));
	return zev_util_keyval_read(path, read_release, release);
}

} // extern "C"
