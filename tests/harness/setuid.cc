// Setuid-root programs for tests, through run_setuid.sh.
#include "setuid.h"

#include "harness.h"

#include <unistd.h>

namespace wlctest {

std::string setuid_unavailable()
{
	if (!std::string(WLC_EMULATOR).empty())
		return "an emulated program is not started by the kernel as setuid";
#ifdef WLC_TEST_SANITIZED
	// A host program (pamtester) gets the sanitizer runtimes through
	// LD_PRELOAD, which the loader ignores in a setuid program.
	return "the sanitizer runtimes would need LD_PRELOAD, which a setuid program ignores";
#endif
	if (geteuid() != 0)
		return "making a setuid-root copy needs root";
	if (run({"/usr/bin/unshare", "--mount", "true"}).status != 0)
		return "no mount namespaces here";
	return "";
}

std::vector<std::string> setuid_command(const std::string &dir, Caller caller, const std::vector<std::string> &env,
					const std::vector<std::string> &argv)
{
	std::vector<std::string> cmd = {"/usr/bin/env"};
	cmd.insert(cmd.end(), env.begin(), env.end());
	cmd.insert(cmd.end(), {"/bin/sh", WLC_SETUID_SCRIPT, dir, caller == Caller::root ? "root" : "unprivileged"});
	cmd.insert(cmd.end(), argv.begin(), argv.end());
	return cmd;
}

} // namespace wlctest
