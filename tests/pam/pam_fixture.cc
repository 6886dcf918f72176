// The PAM stack fixture: service files, the session stand-in, pamtester runs.
#include "pam_fixture.h"

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pamtest {

using namespace std::chrono_literals;

bool is_tag(const std::string &s)
{
	return s.size() == 16 && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

namespace {

// In the child: a mount namespace where the bus socket's directory is empty.
void hide_bus_directory()
{
	if (!wlctest::enter_private_mountns())
		_exit(126);
	struct stat st;
	if (stat("/var/run/ubus", &st) == 0 && mount("wlc-nobus", "/var/run/ubus", "tmpfs", 0, "mode=0755") != 0)
		_exit(126);
}

[[noreturn]] void exec_child(int in, int out, const std::vector<std::string> &argv, const std::vector<std::string> &env,
			     bool hide_real_bus)
{
	dup2(in, 0);
	dup2(out, 1);
	dup2(out, 2);
	if (hide_real_bus)
		hide_bus_directory();
	for (const auto &e : env)
		putenv(strdup(e.c_str()));
	std::vector<char *> args;
	for (auto a : argv)
		args.push_back(strdup(a.c_str()));
	args.push_back(nullptr);
	execv(args[0], args.data());
	_exit(127);
}

} // namespace

PamRun run_with_input(const std::vector<std::string> &argv, const std::vector<std::string> &env,
		      const std::string &input, bool hide_real_bus)
{
	int in[2], out[2];
	EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
	EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
	PamRun r;
	r.pid = fork();
	if (r.pid == 0)
		exec_child(in[0], out[1], argv, env, hide_real_bus);
	close(in[0]);
	close(out[1]);
	EXPECT_EQ(write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
	close(in[1]);
	char buf[4096];
	ssize_t n;
	while ((n = read(out[0], buf, sizeof(buf))) > 0)
		r.out.append(buf, static_cast<size_t>(n));
	close(out[0]);
	int st = 0;
	waitpid(r.pid, &st, 0);
	r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
	return r;
}

void PamStack::SetUp()
{
#ifdef WLC_PAM_MODULE_FOREIGN
	GTEST_SKIP() << "pamtester is a host program: it cannot load a module built for another architecture";
#endif
	DeviceTest::SetUp();
	dir_ = root_->path();
	write_service(kService, PAM_MODULE);
	ASSERT_EQ(mkdir((dir_ + "/pamrun").c_str(), 0700), 0);
}

void PamStack::write_service(const std::string &name, const std::string &module)
{
	wlctest::write_text(dir_ + "/pam.d/" + name, "auth required " + module + "\naccount required " + module +
							     "\nsession required " + module + "\n");
}

void PamStack::start_session_service(const std::string &users)
{
	wlctest::write_text(dir_ + "/users.json", "{" + users + "}");
	service_ = std::make_unique<wlctest::Process>(std::vector<std::string>{
		SIM_SESSION, "-s", bus_->socket(), "-u", dir_ + "/users.json", "-r", dir_ + "/record"});
	ASSERT_TRUE(client_.connect(bus_->socket()));
	ASSERT_TRUE(wlctest::wait_until([&] { return client_.lookup("session") != 0; }, 10s));
}

void PamStack::accounts(const std::string &passwd, const std::string &shadow)
{
	wlctest::write_text(dir_ + "/passwd", "root:x:0:0:root:/root:/bin/sh\n" + passwd);
	wlctest::write_text(dir_ + "/shadow", shadow);
	wlctest::write_text(dir_ + "/group", "root:x:0:\nusers:x:100:\n");
}

std::string PamStack::hash_of(const std::string &password)
{
	wlctest::RunResult r = wlctest::run({"/usr/bin/openssl", "passwd", "-6", password});
	EXPECT_EQ(r.status, 0);
	return r.out.substr(0, r.out.find('\n'));
}

std::vector<std::string> PamStack::wrapper_env() const
{
	std::string preload = std::string(PAM_TEST_PRELOAD) + "libpam_wrapper.so:libnss_wrapper.so";
	return {"LD_PRELOAD=" + preload, "PAM_WRAPPER=1", "PAM_WRAPPER_SERVICE_DIR=" + dir_ + "/pam.d",
		"PAM_WRAPPER_RUNTIME_DIR=" + dir_ + "/pamrun", "NSS_WRAPPER_PASSWD=" + dir_ + "/passwd",
		"NSS_WRAPPER_GROUP=" + dir_ + "/group", "NSS_WRAPPER_SHADOW=" + dir_ + "/shadow",
		"ASAN_OPTIONS=detect_leaks=0", "TMPDIR=" + dir_};
}

PamRun PamStack::pamtester(const std::string &user, const std::string &password, const std::vector<std::string> &ops,
			   const std::string &rhost)
{
	std::vector<std::string> argv = {"/usr/bin/pamtester", "-v"};
	if (!rhost.empty())
		argv.insert(argv.end(), {"-I", "rhost=" + rhost});
	argv.insert(argv.end(), {kService, user});
	argv.insert(argv.end(), ops.begin(), ops.end());
	return run_with_input(argv, wrapper_env(), password + "\n");
}

std::vector<std::string> PamStack::record(const std::string &method) const
{
	std::vector<std::string> out;
	std::ifstream in(dir_ + "/record");
	for (std::string line; std::getline(in, line);)
		if (line.rfind(method + " ", 0) == 0)
			out.push_back(line.substr(method.size() + 1));
	return out;
}

} // namespace pamtest
