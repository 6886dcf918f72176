// The platform's own commands (firstboot, reboot, sysupgrade, ip, the
// configuration tools, init scripts), run without a shell and waited for.
// A command is looked up only in the device's program directories, resolved
// under the device root, so a simulated device can only ever reach the
// programs its root holds.
#pragma once

#include <string>
#include <vector>

namespace mast {

// The program's path on this device: an absolute name resolved under the
// device root, a bare name searched in /usr/sbin, /usr/bin, /sbin and /bin
// (under the root); empty when there is no such executable.
[[nodiscard]] std::string platform_program(const std::string &name);

// Runs argv (argv[0] as for platform_program) and waits for it; its exit
// status, or -1 when it cannot be started or does not exit normally. quiet:
// its output goes nowhere (a lookup whose answer is its exit status).
[[nodiscard]] int run_platform_command(const std::vector<std::string> &argv, bool quiet = false);

} // namespace mast
