// A private device root for readers that take their input from files or
// ask the device (through the root helper): made once per process under
// $TMPDIR (or /tmp), named by WLC_ROOT from then on, removed at exit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace wlcfuzz {

// The root directory (made on the first call).
const std::string &private_root();

// Writes the bytes to the device path (under the private root), making its
// directories; aborts when it cannot, as no result would then mean anything.
void put_device_file(const std::string &path, const uint8_t *data, size_t size);

} // namespace wlcfuzz
