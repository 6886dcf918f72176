// Slot images and UBI block devices over loop devices.
#include "boot_slots.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <wlc/loop.h>

namespace fs = std::filesystem;

namespace sim {

namespace {

// What each slot carries: the running release in slot 0, an older one
// without a build date in slot 1.
std::string release_text(const DeviceSpec &dev, int slot)
{
	if (slot == 0)
		return "DISTRIB_ID='OpenWrt'\nDISTRIB_RELEASE='" + dev.release + "'\nDISTRIB_REVISION='" + dev.revision +
		       "'\nDISTRIB_CODENAME='zev'\nDISTRIB_BUILDDATE='" + dev.builddate + "'\n";
	return "DISTRIB_ID='OpenWrt'\nDISTRIB_RELEASE='1.2.2'\nDISTRIB_REVISION='r12000-0a1b2c'\n"
	       "DISTRIB_CODENAME='zev'\n";
}

int run(std::vector<std::string> args)
{
	std::vector<char *> argv;
	for (std::string &a : args)
		argv.push_back(a.data());
	argv.push_back(nullptr);
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
	pid_t pid;
	int err = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
	posix_spawn_file_actions_destroy(&actions);
	if (err != 0)
		return -1;
	int status = 0;
	while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
	}
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Attaches the image read-only to a free loop device; its path, or empty.
std::string attach_loop(const std::string &image)
{
	wlc::UniqueFd ctl(open("/dev/loop-control", O_RDWR | O_CLOEXEC));
	wlc::UniqueFd img(open(image.c_str(), O_RDONLY | O_CLOEXEC));
	if (!ctl || !img)
		return {};
	// Another process may take the same free device first: ask again.
	for (int attempt = 0; attempt < 16; attempt++) {
		int n = ioctl(ctl.get(), LOOP_CTL_GET_FREE);
		if (n < 0)
			return {};
		std::string dev = "/dev/loop" + std::to_string(n);
		struct stat st;
		if (stat(dev.c_str(), &st) != 0 && mknod(dev.c_str(), S_IFBLK | 0600, makedev(7, n)) != 0)
			return {};
		wlc::UniqueFd loop(open(dev.c_str(), O_RDWR | O_CLOEXEC));
		if (!loop)
			return {};
		if (ioctl(loop.get(), LOOP_SET_FD, img.get()) == 0)
			return dev;
		if (errno != EBUSY)
			return {};
	}
	return {};
}

} // namespace

std::string slot_volume(int slot)
{
	return "/dev/ubi0_" + std::to_string(2 * slot + 1);
}

std::string slot_block(int slot)
{
	return "/dev/ubiblock0_" + std::to_string(2 * slot + 1);
}

bool make_slot_images(const DeviceSpec &dev)
{
	for (int slot = 0; slot < 2; slot++) {
		std::string src = dev.root + "/var/lib/sim/slot" + std::to_string(slot);
		fs::create_directories(src + "/etc");
		std::ofstream(src + "/etc/openwrt_release") << release_text(dev, slot);
		std::string image = dev.root + slot_volume(slot);
		fs::create_directories(fs::path(image).parent_path());
		if (run({"mksquashfs", src, image, "-noappend", "-no-progress", "-quiet"}) != 0)
			return false;
	}
	return true;
}

bool ubi_block_create(const std::string &root, const std::string &volume, std::string &why)
{
	std::string suffix = volume.substr(volume.find("ubi0_") + 5);
	std::string block = root + "/dev/ubiblock0_" + suffix;
	std::error_code ec;
	if (fs::symlink_status(block, ec).type() != fs::file_type::not_found) {
		why = "UBI volume already has a block device";
		return false;
	}
	if (!fs::exists(root + volume)) {
		why = "cannot open " + volume;
		return false;
	}
	std::string loop = attach_loop(root + volume);
	if (loop.empty()) {
		// No loop devices here: a node that exists but cannot be mounted.
		std::ofstream(block).flush();
		return true;
	}
	fs::create_symlink(loop, block, ec);
	return !ec;
}

bool ubi_block_remove(const std::string &root, const std::string &volume, std::string &why)
{
	std::string block = root + "/dev/ubiblock0_" + volume.substr(volume.find("ubi0_") + 5);
	std::error_code ec;
	auto type = fs::symlink_status(block, ec).type();
	if (type == fs::file_type::not_found) {
		why = "block device not found";
		return false;
	}
	if (type == fs::file_type::symlink) {
		std::string loop = fs::read_symlink(block, ec).string();
		wlc::UniqueFd fd(open(loop.c_str(), O_RDONLY | O_CLOEXEC));
		if (!fd || ioctl(fd.get(), LOOP_CLR_FD, 0) != 0) {
			why = "cannot free " + loop + ": " + std::strerror(errno);
			return false;
		}
	}
	fs::remove(block, ec);
	return true;
}

} // namespace sim
