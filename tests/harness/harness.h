// Test harness: private temp roots, child processes, a private bus daemon per
// test, and network isolation for tests that need the system's fixed ports.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace wlctest {

// How long a program the harness starts may take to show it is up: far more
// than it needs, for a loaded machine or an emulated build.
inline constexpr std::chrono::seconds kStartLimit{60};

// Files shipped with the tests (golden buffers, captures).
std::string data_path(std::string_view name);
std::string read_text(const std::string &path);
std::vector<uint8_t> read_bytes(const std::string &path);
void write_text(const std::string &path, std::string_view text);

// A fresh directory removed with everything in it at the end.
class TempRoot {
public:
	TempRoot();
	~TempRoot();
	TempRoot(const TempRoot &) = delete;
	TempRoot &operator=(const TempRoot &) = delete;

	const std::string &path() const { return path_; }
	// An absolute device path under this root; parent directories are made.
	std::string at(std::string_view abs) const;

private:
	std::string path_;
};

// A child process ended (SIGTERM, then SIGKILL) when the object goes.
class Process {
public:
	explicit Process(std::vector<std::string> argv, std::vector<std::string> env = {});
	~Process();
	Process(const Process &) = delete;
	Process &operator=(const Process &) = delete;

	pid_t pid() const { return pid_; }
	// Waits for the exit status (as waitpid gives it); -1 on time-out.
	int wait(std::chrono::milliseconds limit);
	void kill(int sig);
	bool running();

private:
	pid_t pid_ = -1;
	int status_ = -1;
};

// Polls cond until it holds or the limit passes.
bool wait_until(const std::function<bool()> &cond, std::chrono::milliseconds limit);

// Runs this process's event loop in short slices until cond holds or the limit passes.
bool pump(const std::function<bool()> &cond, std::chrono::milliseconds limit = std::chrono::seconds(5));

// Starts a bus daemon on socket and waits for its socket.
std::unique_ptr<Process> start_bus_daemon(const std::string &socket);
// Kills a bus daemon at once, as a crash would, and starts a new one on the
// same socket (the dead one leaves its socket file behind).
void restart_bus_daemon(std::unique_ptr<Process> &daemon, const std::string &socket);

// A bus daemon of its own on a socket under the root.
class BusDaemon {
public:
	explicit BusDaemon(const TempRoot &root);
	const std::string &socket() const { return socket_; }
	Process &process() { return *proc_; }
	void restart() { restart_bus_daemon(proc_, socket_); }

private:
	std::string socket_;
	std::unique_ptr<Process> proc_;
};

// Runs a program and collects its standard output and exit status.
struct RunResult {
	int status = -1;
	std::string out;
	std::string err;
};
RunResult run(const std::vector<std::string> &argv, std::chrono::milliseconds limit = std::chrono::seconds(10));
// The same with standard error on a terminal (a pseudo-terminal in raw mode).
RunResult run_with_terminal(const std::vector<std::string> &argv,
			    std::chrono::milliseconds limit = std::chrono::seconds(10));

// A raw stream connection to a Unix socket; -1 on failure.
int connect_unix(const std::string &path);

// Path of a program built by the project.
std::string program(std::string_view name);
// The bus tool: the platform's own, or the bundled one.
std::string ubus_tool();

// Moves the calling process into a network namespace of its own with the
// loopback interface up. Returns false where that is not permitted.
bool enter_private_netns();
// Moves the calling process (and the children it starts from now on) into a
// mount namespace of its own, nothing shared back with the host, so a test can
// mount over a directory of its root. Returns false where that is not permitted.
bool enter_private_mountns();

// A temp root of its own that this process's paths resolve in (WLC_ROOT
// points at it while the test runs).
class InRootTest : public ::testing::Test {
protected:
	void SetUp() override;
	void TearDown() override;

	TempRoot root_;
};

// A device of its own: temp root (WLC_ROOT points at it) and bus daemon.
class DeviceTest : public ::testing::Test {
protected:
	void SetUp() override;
	void TearDown() override;

	std::unique_ptr<TempRoot> root_;
	std::unique_ptr<BusDaemon> bus_;
};

} // namespace wlctest
