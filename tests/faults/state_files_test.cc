// State files under crashes: every file a daemon keeps is replaced whole (a
// reader of the old file, like a daemon killed mid-write, sees the old
// content, never a part), and the report store reloads what it held when
// rrm_ctrl is killed with SIGKILL in the middle of a burst of reports.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

#include "agent/agent.h"
#include "ctrl_process.h"
#include "vigil_fixture.h"

namespace {

using namespace std::chrono_literals;

// What the file that fd was opened on holds now.
std::string read_fd(int fd)
{
	std::string out;
	char buf[256];
	ssize_t n;
	while ((n = pread(fd, buf, sizeof(buf), static_cast<off_t>(out.size()))) > 0)
		out.append(buf, static_cast<size_t>(n));
	return out;
}

// ap2 on channel 1 is heard, channel 11 is busy: qbss picks 1, noise picks 6.
class AcsRecord : public vigiltest::VigilTest {
protected:
	void SetUp() override
	{
		VigilTest::SetUp();
		start_site({{"ap1", ""}, {"ap2", R"("lan_mac": "00:11:22:a3:b4:d6", "radios": [{"band": 2, "channel": 1}])"}},
			   R"({"a": "ap1", "b": "ap2", "rssi": -58})");
		ASSERT_EQ(site_->command("load 1 5 20"), "ok");
		ASSERT_EQ(site_->command("load 6 30 20"), "ok");
		ASSERT_EQ(site_->command("load 11 60 500"), "ok");
		start_vigil();
	}
	void select(const std::string &alg)
	{
		ASSERT_EQ(call("radio_acs", R"({"radio": 0, "alg": ")" + alg + R"(", "ch_list": [1, 6, 11]})"), 0)
			<< log_text();
	}
};

TEST_F(AcsRecord, IsReplacedWhole)
{
	select("qbss");
	std::string path = dev("/etc/wlc/acs/radio2");
	ASSERT_EQ(wlctest::read_text(path), "1");
	int old = open(path.c_str(), O_RDONLY | O_CLOEXEC);
	ASSERT_GE(old, 0);
	select("noise");
	EXPECT_EQ(wlctest::read_text(path), "6");
	EXPECT_EQ(read_fd(old), "1");
	close(old);
	EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

class AgentSetting : public wlctest::DeviceTest {};

TEST_F(AgentSetting, IsReplacedWhole)
{
	ASSERT_TRUE(rrm::write_setting(0, "channel", 6));
	std::string path = root_->path() + "/etc/wlc/rrm/cfg/radio0/channel";
	int old = open(path.c_str(), O_RDONLY | O_CLOEXEC);
	ASSERT_GE(old, 0);
	ASSERT_TRUE(rrm::write_setting(0, "channel", 11));
	EXPECT_EQ(rrm::read_setting(0, "channel"), 11);
	EXPECT_EQ(read_fd(old), "6");
	close(old);
	EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

class StoreAfterKill : public faulttest::CtrlProcessTest {
protected:
	// The store's files with their sizes, one per line.
	std::string store_files() const
	{
		std::string out;
		std::error_code ec;
		for (const auto &e : std::filesystem::recursive_directory_iterator(root_->path() + "/etc/wlc/rrm", ec))
			if (e.is_regular_file(ec))
				out += e.path().string() + " " + std::to_string(e.file_size(ec)) + "\n";
		return out;
	}
	// Sends the site's radio reports without waiting; returns once the first is answered.
	void burst(const rrmtest::SiteModel &site, std::vector<std::unique_ptr<wlc::AsyncCall>> &calls, bool &answered)
	{
		uint32_t id = client_.lookup(object_);
		for (int round = 0; round < 20; round++) {
			for (const auto &[ap, radio] : site.radios) {
				wlc::BlobBuf b;
				b.add("type", "radio");
				b.add("id", ap);
				{
					auto data = b.table("data");
					rrm::encode_radio(b, radio);
				}
				calls.push_back(std::make_unique<wlc::AsyncCall>());
				ASSERT_EQ(client_.call_async(id, "report_add", b, *calls.back(), nullptr,
							     [&](int) { answered = true; }),
					  0);
			}
		}
	}
};

TEST_F(StoreAfterKill, ReportsReloadWhole)
{
	auto ctrl = start_ctrl();
	rrmtest::SiteModel site = rrmtest::worked_site();
	report_site(site);
	std::string before = model_json();
	ASSERT_EQ(before, "status 5"); // reports kept, no plan asked for yet

	std::vector<std::unique_ptr<wlc::AsyncCall>> calls;
	bool answered = false;
	burst(site, calls, answered);
	ASSERT_TRUE(wlctest::pump([&] { return answered; }, 20s));
	ctrl->kill(SIGKILL); // in the middle of the burst
	ASSERT_NE(ctrl->wait(20s), -1) << "rrm_ctrl still runs after SIGKILL";
	calls.clear();
	std::string files = store_files();

	ctrl = start_ctrl();
	std::string log = ctrl_log();
	EXPECT_NE(log.find("[site1/1] loaded reports of 4 APs"), std::string::npos)
		<< log << "\nThe store after the kill:\n" << files;
	EXPECT_EQ(log.find("refused report file"), std::string::npos) << log;
	for (const auto &e : std::filesystem::recursive_directory_iterator(root_->path() + "/etc/wlc/rrm"))
		EXPECT_NE(e.path().extension(), ".bad") << e.path();
	for (const auto &[ap, radio] : site.radios) {
		std::string list;
		EXPECT_EQ(call_json(object_, "report_list", R"({"type":"bss","id":")" + ap + R"(","limit":1})", &list), 0);
		EXPECT_NE(list.find(R"({")" + ap + R"(":{"reports":[{"ts":)"), std::string::npos) << list;
	}
}

} // namespace
