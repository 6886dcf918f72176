// The login module in the real Linux-PAM stack: pamtester under pam_wrapper
// (a service file of our own) and nss_wrapper (password files of our own),
// against the session service stand-in on a private bus.
#pragma once

#include <gtest/gtest.h>

#include <wlc/bus.h>

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

#include "harness.h"

namespace pamtest {

inline constexpr const char *kService = "wlc-login";

struct PamRun {
	int status = -1; // exit code
	std::string out;
	pid_t pid = -1;
};

// 16 lower-case hexadecimal digits.
bool is_tag(const std::string &s);

// Runs argv with the environment words env added, input on its standard
// input, standard output and error collected; with hide_real_bus, in a mount
// namespace of its own where the bus socket's directory is empty.
PamRun run_with_input(const std::vector<std::string> &argv, const std::vector<std::string> &env,
		      const std::string &input, bool hide_real_bus = false);

class PamStack : public wlctest::DeviceTest {
protected:
	void SetUp() override;

	// A PAM service file naming module for every stage.
	void write_service(const std::string &name, const std::string &module);
	// The session stand-in with these users (JSON object members).
	void start_session_service(const std::string &users);
	// Password files: passwd lines and shadow lines.
	void accounts(const std::string &passwd, const std::string &shadow);
	static std::string hash_of(const std::string &password);

	// pamtester for the service under pam_wrapper and nss_wrapper.
	PamRun pamtester(const std::string &user, const std::string &password, const std::vector<std::string> &ops,
			 const std::string &rhost = "");
	// The environment words for pam_wrapper and nss_wrapper over this root.
	std::vector<std::string> wrapper_env() const;
	// The messages of the recorded calls of one method, as JSON texts.
	std::vector<std::string> record(const std::string &method) const;

	std::string dir_;
	wlc::Bus client_;
	std::unique_ptr<wlctest::Process> service_;
};

} // namespace pamtest
