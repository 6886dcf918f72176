// The dual-boot flash of a simulated device: each slot's UBI volume
// (/dev/ubi0_1, /dev/ubi0_3 under the root) is a squashfs image holding that
// slot's release file; a UBI block device (/dev/ubiblock0_N) is a symbolic
// link to a read-only loop device over the image. Where the machine has no
// loop devices the block device is an empty file that cannot be mounted.
#pragma once

#include <string>

#include "device_spec.h"

namespace sim {

// The volume and block-device paths of a slot, as the device names them.
std::string slot_volume(int slot);
std::string slot_block(int slot);

// Builds both slot images with mksquashfs; false when the tool is missing.
bool make_slot_images(const DeviceSpec &dev);

// Creates the block device of a volume (a device path like "/dev/ubi0_1")
// under root. Fails when it exists already or the volume is missing.
bool ubi_block_create(const std::string &root, const std::string &volume, std::string &why);
// Removes it again and frees its loop device.
bool ubi_block_remove(const std::string &root, const std::string &volume, std::string &why);

} // namespace sim
