// Running vigil on a simulated access point.
#include "vigil_fixture.h"

#include <fsroot/fsroot.h>

#include <json-c/json.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vigiltest {

void VigilTest::SetUp()
{
	root_ = std::make_unique<wlctest::TempRoot>();
}

namespace {

// Loop devices still backed by a file under dir: each is a leak (and is freed here).
int free_leaked_loops(const std::string &dir)
{
	int leaked = 0;
	std::error_code ec;
	for (const auto &e : std::filesystem::directory_iterator("/sys/block", ec)) {
		std::string name = e.path().filename().string();
		if (name.rfind("loop", 0) != 0)
			continue;
		std::string backing = e.path().string() + "/loop/backing_file";
		struct stat st;
		if (stat(backing.c_str(), &st) != 0 || wlctest::read_text(backing).rfind(dir, 0) != 0)
			continue;
		leaked++;
		int fd = open(("/dev/" + name).c_str(), O_RDONLY | O_CLOEXEC);
		if (fd >= 0) {
			ioctl(fd, LOOP_CLR_FD, 0);
			close(fd);
		}
	}
	return leaked;
}

} // namespace

void VigilTest::TearDown()
{
	client_.close();
	vigil_.reset();
	system_.reset();
	network_.reset();
	ubusd_.reset();
	site_.reset();
	EXPECT_EQ(free_leaked_loops(root_->path() + "/"), 0) << "loop devices left behind";
	root_.reset();
}

void VigilTest::start_site(const std::string &device_json)
{
	start_site({{"ap1", device_json}}, "");
}

void VigilTest::start_site(const std::vector<wlctest::SimDevice> &devices, const std::string &hear_json)
{
	site_ = std::make_unique<wlctest::SimSite>(*root_, devices, hear_json);
	socket_ = dev("/var/run/ubus/ubus.sock");
	ubusd_ = std::make_unique<wlctest::Process>(std::vector<std::string>{WLC_UBUSD, "-s", socket_});
	ASSERT_TRUE(wlctest::wait_until([&] {
		struct stat st;
		return stat(socket_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
	}, 10s));
	ASSERT_TRUE(client_.connect(socket_));
	client_.watch();
}

void VigilTest::start_system()
{
	system_ = std::make_unique<wlctest::Process>(
		std::vector<std::string>{"/usr/bin/env", "WLC_ROOT=" + site_->root_of("ap1"),
					 std::string(WLC_BUILD_DIR) + "/sim/sim_system", "-s", socket_});
	ASSERT_TRUE(wlctest::pump([&] { return client_.lookup("system") != 0; }, 10s));
}

void VigilTest::start_network()
{
	network_ = std::make_unique<wlctest::Process>(
		std::vector<std::string>{"/usr/bin/env", "WLC_ROOT=" + site_->root_of("ap1"),
					 std::string(WLC_BUILD_DIR) + "/sim/sim_network", "-s", socket_});
	ASSERT_TRUE(wlctest::pump([&] { return client_.lookup("network.interface.loopback") != 0; }, 10s));
}

void VigilTest::start_vigil(const std::vector<std::string> &args, const std::string &path)
{
	std::string host_path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
	std::vector<std::string> argv = {
		"/usr/bin/env", "WLC_ROOT=" + site_->root_of("ap1"), "WLC_LOG_FILE=" + root_->path() + "/vigil.log",
		"PATH=" + (path.empty() ? std::string(WLC_BUILD_DIR) + "/sim/bin:" + host_path : path)};
	// vigil runs as on the AP: with the AP's hostname and its /data the size of its flash.
	argv.push_back(WLC_DEVICE_EXEC);
	argv.push_back(site_->root_of("ap1"));
	if (!std::string(WLC_EMULATOR).empty())
		argv.push_back(WLC_EMULATOR);
	argv.insert(argv.end(), vigil_wrapper_.begin(), vigil_wrapper_.end());
	argv.push_back(std::string(WLC_BUILD_DIR) + "/vigil/vigil");
	argv.insert(argv.end(), args.begin(), args.end());
	vigil_ = std::make_unique<wlctest::Process>(argv);
	ASSERT_TRUE(wlctest::pump([&] { return client_.lookup("vigil") != 0; }, 10s)) << log_text();
}

int VigilTest::call(const std::string &method, const std::string &json, std::string *reply,
		    std::chrono::milliseconds limit)
{
	wlc::BlobBuf args;
	if (!args.add_json(json))
		return -100;
	uint32_t id = client_.lookup("vigil");
	if (!id)
		return UBUS_STATUS_NOT_FOUND;
	int status = -1;
	bool done = false;
	if (reply)
		reply->clear();
	wlc::AsyncCall c;
	client_.call_async(id, method, args, c,
			   [&](blob_attr *msg) {
				   if (reply)
					   *reply = wlc::BlobBuf().add_fields(msg).json();
			   },
			   [&](int s) {
				   status = s;
				   done = true;
			   });
	wlctest::pump([&] { return done; }, limit);
	return status;
}

std::string VigilTest::log_text() const
{
	std::string path = root_->path() + "/vigil.log";
	struct stat st;
	return stat(path.c_str(), &st) == 0 ? wlctest::read_text(path) : std::string();
}

std::string field(const std::string &json, const std::string &name)
{
	json_object *obj = json_tokener_parse(json.c_str());
	json_object *v = nullptr;
	std::string out = "<absent>";
	if (obj && json_object_object_get_ex(obj, name.c_str(), &v))
		out = v ? json_object_to_json_string_ext(v, JSON_C_TO_STRING_PLAIN) : "null";
	json_object_put(obj);
	return out;
}

} // namespace vigiltest

namespace vigiltest {

std::string text_field(const std::string &json, const std::string &name)
{
	json_object *obj = json_tokener_parse(json.c_str());
	json_object *v = nullptr;
	std::string out = "<absent>";
	if (obj && json_object_object_get_ex(obj, name.c_str(), &v) && json_object_is_type(v, json_type_string))
		out = json_object_get_string(v);
	json_object_put(obj);
	return out;
}

} // namespace vigiltest
