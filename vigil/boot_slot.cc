// The two firmware slots: which one runs, which one boots next, and the
// release each slot's root file system carries.
//
// A slot's squashfs is reached through a UBI block device. The running
// slot's block device exists already (it holds the root file system); for
// the other one this call creates the block device, mounts it, reads it and
// removes again exactly what it created.
#include "version.h"

#include <fsroot/fsroot.h>
#include <wlc/log.h>
#include <zev/devinfo.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vigil {

namespace {

constexpr int kSlots = 2;
constexpr unsigned int kNoSlot = 65535;

struct SlotInfo {
	bool running = false;
	zev_release release = {};
};

bool exists(const std::string &device_path)
{
	struct stat st;
	return lstat(wlc::root_path(device_path).c_str(), &st) == 0;
}

int run_ubiblock(const char *flag, const std::string &volume)
{
	std::string cmd = std::string("ubiblock ") + flag + " " + volume + " > /dev/null 2>&1";
	return std::system(cmd.c_str());
}

// The slot's release file, read through a private read-only mount.
void read_release(const std::string &block, SlotInfo &info)
{
	std::string host_dir = wlc::root_path("/tmp/vigil_boot_slot.XXXXXX");
	if (!mkdtemp(host_dir.data())) {
		wlc::logf(LOG_WARNING, "failed to create %s: %s", host_dir.c_str(), std::strerror(errno));
		return;
	}
	std::string host_block = wlc::root_path(block);
	if (mount(host_block.c_str(), host_dir.c_str(), "squashfs", MS_RDONLY, nullptr) != 0) {
		wlc::logf(LOG_WARNING, "failed to mount %s to %s: %s", block.c_str(), host_dir.c_str(),
			  std::strerror(errno));
	} else {
		// The release reader resolves device paths itself: hand it the one under the root.
		std::string dir = host_dir.substr(wlc::fs_root().size());
		zev_devinfo_release_read((dir + "/etc/openwrt_release").c_str(), &info.release);
		if (umount(host_dir.c_str()) != 0)
			umount2(host_dir.c_str(), MNT_DETACH);
	}
	rmdir(host_dir.c_str());
}

SlotInfo probe_slot(int slot)
{
	SlotInfo info;
	std::string volume = "/dev/ubi0_" + std::to_string(2 * slot + 1);
	std::string block = "/dev/ubiblock0_" + std::to_string(2 * slot + 1);
	// The root file system's block device is there before anyone asks; a
	// missing or failing tool must not make a slot look like the running one.
	info.running = exists(block);
	bool created = !info.running && run_ubiblock("-c", volume) == 0;
	read_release(block, info);
	if (created)
		run_ubiblock("-r", volume);
	return info;
}

void add_slot(wlc::BlobBuf &reply, int slot, const SlotInfo &info, unsigned int next)
{
	auto table = reply.table();
	reply.add_u32("index", static_cast<uint32_t>(slot));
	reply.add("name", "slot" + std::to_string(slot));
	if (info.running)
		reply.add_bool("current", true);
	if (next == static_cast<unsigned int>(slot))
		reply.add_bool("next", true);
	const zev_release &r = info.release;
	if (r.id[0])
		reply.add("id", std::string(r.id, strnlen(r.id, sizeof(r.id))));
	if (r.codename[0])
		reply.add("codename", std::string(r.codename, strnlen(r.codename, sizeof(r.codename))));
	if (r.release[0])
		reply.add("release", std::string(r.release, strnlen(r.release, sizeof(r.release))));
	if (r.revision[0])
		reply.add("revision", std::string(r.revision, strnlen(r.revision, sizeof(r.revision))));
	if (r.build_year && r.build_month && r.build_day) {
		auto date = reply.table("build_date");
		reply.add_u32("year", r.build_year);
		reply.add_u32("month", r.build_month);
		reply.add_u32("day", r.build_day);
	}
}

} // namespace

int boot_slot_method(wlc::Request &req)
{
	unsigned int next = kNoSlot;
	char text[8] = "";
	if (zev_devinfo_get_env("dual_boot.current_slot", text, sizeof(text)) == 0 &&
	    std::sscanf(text, "%u", &next) != 1)
		next = kNoSlot;
	wlc::BlobBuf reply;
	{
		auto slots = reply.array("slots");
		for (int i = 0; i < kSlots; i++)
			add_slot(reply, i, probe_slot(i), next);
	}
	req.reply(reply);
	return UBUS_STATUS_OK;
}

} // namespace vigil
