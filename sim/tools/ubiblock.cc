// ubiblock stand-in for a simulated device (WLC_ROOT): creates and removes
// the read-only block device of a UBI volume.
//   ubiblock -c <volume> | -r <volume>
#include <fsroot/fsroot.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "device/boot_slots.h"

int main(int argc, char **argv)
{
	if (argc != 3 || (std::strcmp(argv[1], "-c") != 0 && std::strcmp(argv[1], "-r") != 0) ||
	    std::strncmp(argv[2], "/dev/ubi0_", 10) != 0) {
		std::fprintf(stderr, "Usage: ubiblock -c|-r /dev/ubi0_<n>\n");
		return 1;
	}
	std::string why;
	bool create = std::strcmp(argv[1], "-c") == 0;
	bool ok = create ? sim::ubi_block_create(wlc::fs_root(), argv[2], why)
			 : sim::ubi_block_remove(wlc::fs_root(), argv[2], why);
	if (!ok) {
		std::fprintf(stderr, "ubiblock: error!: %s\n", why.c_str());
		return 1;
	}
	return 0;
}
