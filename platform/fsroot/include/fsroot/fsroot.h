// One place where every absolute path the system reads, writes or executes
// is resolved: under the directory named by WLC_ROOT when it is set (a
// simulated device), or as given (a real device). A device build reads no
// such variable, and a setuid, setgid or capability-raising program ignores
// it: their paths are always the ones given.
#pragma once

#include <string>
#include <string_view>

namespace wlc {

// The root directory, empty when unset.
const std::string &fs_root();

// The absolute path as seen on this device: root + path.
std::string root_path(std::string_view path);

// Resets the cached root from the environment (for tests that change it);
// empty again in a device build.
void reload_fs_root();

} // namespace wlc
