// Test harness implementation.
#include "harness.h"

#include <fsroot/fsroot.h>
#include <wlc/c/ubox.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <net/if.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <sched.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace wlctest {

std::string data_path(std::string_view name)
{
	return std::string(WLC_TEST_DATA) + "/" + std::string(name);
}

std::string read_text(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	std::ostringstream ss;
	ss << in.rdbuf();
	return ss.str();
}

std::vector<uint8_t> read_bytes(const std::string &path)
{
	std::string s = read_text(path);
	return {s.begin(), s.end()};
}

void write_text(const std::string &path, std::string_view text)
{
	fs::create_directories(fs::path(path).parent_path());
	std::ofstream out(path, std::ios::binary | std::ios::trunc);
	out << text;
}

TempRoot::TempRoot()
{
	const char *tmp = std::getenv("TMPDIR");
	std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/wlc-test-XXXXXX";
	std::vector<char> buf(templ.begin(), templ.end());
	buf.push_back('\0');
	if (!mkdtemp(buf.data()))
		throw std::runtime_error("mkdtemp failed");
	path_ = buf.data();
}

TempRoot::~TempRoot()
{
	std::error_code ec;
	fs::remove_all(path_, ec);
}

std::string TempRoot::at(std::string_view abs) const
{
	std::string p = path_ + std::string(abs);
	fs::create_directories(fs::path(p).parent_path());
	return p;
}

namespace {

// Replaces the child with argv. A program the project built is started
// through the emulator when the build is for another architecture (the
// system's binfmt settings are never relied on); host programs run as they are.
[[noreturn]] void exec_program(const std::vector<std::string> &argv)
{
	std::vector<std::string> full = argv;
	// The program is argv[0], or what env runs after its NAME=VALUE words.
	size_t prog = 0;
	if (!full.empty() && full[0] == "/usr/bin/env") {
		prog = 1;
		while (prog < full.size() && full[prog].find('=') != std::string::npos)
			prog++;
	}
	const std::string emulator = WLC_EMULATOR;
	if (!emulator.empty() && prog < full.size() && full[prog].starts_with(std::string(WLC_BUILD_DIR) + "/"))
		full.insert(full.begin() + static_cast<std::ptrdiff_t>(prog), emulator);
	std::vector<char *> args;
	for (auto &a : full)
		args.push_back(a.data());
	args.push_back(nullptr);
	execv(args[0], args.data());
	_exit(127);
}

} // namespace

Process::Process(std::vector<std::string> argv, std::vector<std::string> env)
{
	pid_ = fork();
	if (pid_ < 0)
		throw std::runtime_error("fork failed");
	if (pid_ == 0) {
		for (const auto &e : env)
			putenv(strdup(e.c_str()));
		exec_program(argv);
	}
}

Process::~Process()
{
	if (running()) {
		kill(SIGTERM);
		if (wait(std::chrono::seconds(3)) == -1) {
			kill(SIGKILL);
			wait(std::chrono::seconds(3));
		}
	}
}

bool Process::running()
{
	if (status_ != -1 || pid_ <= 0)
		return false;
	int st;
	pid_t r = waitpid(pid_, &st, WNOHANG);
	if (r == pid_) {
		status_ = st;
		return false;
	}
	return r == 0;
}

int Process::wait(std::chrono::milliseconds limit)
{
	wait_until([this] { return !running(); }, limit);
	return status_;
}

void Process::kill(int sig)
{
	if (pid_ > 0 && status_ == -1)
		::kill(pid_, sig);
}

bool wait_until(const std::function<bool()> &cond, std::chrono::milliseconds limit)
{
	auto end = std::chrono::steady_clock::now() + limit;
	while (!cond()) {
		if (std::chrono::steady_clock::now() >= end)
			return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(5));
	}
	return true;
}

int connect_unix(const std::string &path)
{
	int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_un addr = {};
	addr.sun_family = AF_UNIX;
	std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
	if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) < 0) {
		close(fd);
		fd = -1;
	}
	return fd;
}

bool pump(const std::function<bool()> &cond, std::chrono::milliseconds limit)
{
	auto end = std::chrono::steady_clock::now() + limit;
	while (!cond()) {
		if (std::chrono::steady_clock::now() >= end)
			return false;
		uloop_run_timeout(10);
	}
	return true;
}

std::string program(std::string_view name)
{
	return std::string(WLC_BIN_DIR) + "/" + std::string(name);
}

std::string ubus_tool()
{
	return WLC_UBUS;
}

std::unique_ptr<Process> start_bus_daemon(const std::string &socket)
{
	auto proc = std::make_unique<Process>(std::vector<std::string>{WLC_UBUSD, "-s", socket});
	bool up = wait_until([&] {
		struct stat st;
		return stat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
	}, kStartLimit);
	if (!up)
		throw std::runtime_error("bus daemon did not start");
	return proc;
}

void restart_bus_daemon(std::unique_ptr<Process> &daemon, const std::string &socket)
{
	daemon->kill(SIGKILL);
	daemon->wait(kStartLimit);
	daemon.reset();
	unlink(socket.c_str());
	daemon = start_bus_daemon(socket);
}

BusDaemon::BusDaemon(const TempRoot &root)
{
	socket_ = root.at("/var/run/ubus/ubus.sock");
	proc_ = start_bus_daemon(socket_);
}

namespace {

std::string drain(int fd)
{
	std::string out;
	char buf[4096];
	ssize_t n;
	while ((n = read(fd, buf, sizeof(buf))) > 0)
		out.append(buf, static_cast<size_t>(n));
	return out;
}

} // namespace

namespace {

// Runs argv with standard output on a pipe and standard error on err_write
// (read back from err_read), and waits for its status within limit.
RunResult run_on(const std::vector<std::string> &argv, std::chrono::milliseconds limit, int err_read, int err_write)
{
	int out[2];
	if (pipe2(out, O_CLOEXEC) < 0)
		throw std::runtime_error("pipe failed");
	pid_t pid = fork();
	if (pid == 0) {
		dup2(out[1], 1);
		dup2(err_write, 2);
		exec_program(argv);
	}
	close(out[1]);
	close(err_write);
	RunResult r;
	std::thread t([&] { r.err = drain(err_read); });
	r.out = drain(out[0]);
	t.join();
	close(out[0]);
	close(err_read);
	int st = 0;
	auto end = std::chrono::steady_clock::now() + limit;
	pid_t got;
	while ((got = waitpid(pid, &st, WNOHANG)) == 0) {
		if (std::chrono::steady_clock::now() >= end) {
			::kill(pid, SIGKILL);
			waitpid(pid, &st, 0);
			return r;
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(2));
	}
	// Reaped elsewhere (an event loop in this process): the status is unknown.
	if (got != pid)
		return r;
	r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
	return r;
}

} // namespace

RunResult run(const std::vector<std::string> &argv, std::chrono::milliseconds limit)
{
	int err[2];
	if (pipe2(err, O_CLOEXEC) < 0)
		throw std::runtime_error("pipe failed");
	return run_on(argv, limit, err[0], err[1]);
}

RunResult run_with_terminal(const std::vector<std::string> &argv, std::chrono::milliseconds limit)
{
	int master = -1, slave = -1;
	termios raw = {};
	cfmakeraw(&raw);
	if (openpty(&master, &slave, nullptr, &raw, nullptr) < 0)
		throw std::runtime_error("openpty failed");
	fcntl(master, F_SETFD, FD_CLOEXEC);
	fcntl(slave, F_SETFD, FD_CLOEXEC);
	// Once the program has exited, reading the master fails with EIO: the end.
	return run_on(argv, limit, master, slave);
}

bool enter_private_netns()
{
	if (unshare(CLONE_NEWNET) < 0)
		return false;
	int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
	if (s < 0)
		return false;
	ifreq ifr = {};
	std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
	bool ok = ioctl(s, SIOCGIFFLAGS, &ifr) == 0;
	ifr.ifr_flags |= IFF_UP | IFF_RUNNING;
	ok = ok && ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
	close(s);
	return ok;
}

bool enter_private_mountns()
{
	if (unshare(CLONE_NEWNS) < 0)
		return false;
	return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

void InRootTest::SetUp()
{
	setenv("WLC_ROOT", root_.path().c_str(), 1);
	wlc::reload_fs_root();
}

void InRootTest::TearDown()
{
	unsetenv("WLC_ROOT");
	wlc::reload_fs_root();
}

void DeviceTest::SetUp()
{
	root_ = std::make_unique<TempRoot>();
	setenv("WLC_ROOT", root_->path().c_str(), 1);
	wlc::reload_fs_root();
	bus_ = std::make_unique<BusDaemon>(*root_);
}

void DeviceTest::TearDown()
{
	bus_.reset();
	unsetenv("WLC_ROOT");
	wlc::reload_fs_root();
	root_.reset();
}

} // namespace wlctest
