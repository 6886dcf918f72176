// Setuid-root programs started by root or by an unprivileged user, each in a
// mount namespace of its own (run_setuid.sh), for tests of what a program
// takes from the environment of the user who starts it.
#pragma once

#include <string>
#include <vector>

namespace wlctest {

enum class Caller { root, unprivileged };

// Why setuid programs cannot be run here (not root, no mount namespaces, an
// emulated or sanitizer build); empty when they can.
std::string setuid_unavailable();

// The command that runs argv[0] from a setuid-root copy of it, started by
// caller with the environment words env (NAME=VALUE) added; dir is a
// directory of the test's own (its pam.d, when there is one, is the PAM
// stack's service directory).
std::vector<std::string> setuid_command(const std::string &dir, Caller caller, const std::vector<std::string> &env,
					const std::vector<std::string> &argv);

} // namespace wlctest
