// rrm_ctrl with its report store on a small file system of its own (a tmpfs
// in this test's mount namespace) that fills up or turns read-only: reports
// still arrive and are kept in memory, nothing written before is lost, the
// daemon keeps answering, and once the store can be written again the file
// holds every report, those of the bad time included.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/mount.h>
#include <unistd.h>

#include "ctrl_process.h"

namespace {

using namespace std::chrono_literals;

size_t count_of(const std::string &text, const std::string &what)
{
	size_t n = 0;
	for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
		n++;
	return n;
}

class StoreSpace : public faulttest::CtrlProcessTest {
protected:
	void SetUp() override
	{
		if (geteuid() != 0 || !wlctest::enter_private_mountns())
			GTEST_SKIP() << "needs a mount namespace of its own (root)";
		CtrlTest::SetUp();
		store_ = root_->path() + "/etc/wlc/rrm/radio1";
		std::filesystem::create_directories(store_);
		ASSERT_EQ(mount("tmpfs", store_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=256k"), 0) << strerror(errno);
		mounted_ = true;
	}
	void TearDown() override
	{
		ctrl_proc_.reset();
		if (mounted_)
			umount2(store_.c_str(), MNT_DETACH);
		if (root_)
			CtrlProcessTest::TearDown();
	}
	int radio_report(const std::string &ap, int channel)
	{
		rrm::RadioReport r;
		r.channel = channel;
		r.power = 17;
		return report_add("radio", ap, [&](wlc::BlobBuf &b) { rrm::encode_radio(b, r); });
	}
	size_t radio_reports_of(const std::string &ap)
	{
		std::string list;
		EXPECT_EQ(call_json(object_, "report_list", R"({"type":"radio","id":")" + ap + R"("})", &list), 0);
		return count_of(list, "\"ts\"");
	}
	// Takes every free byte of the store's file system.
	void fill()
	{
		int fd = open((store_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
		ASSERT_GE(fd, 0);
		std::vector<char> block(4096, 'x');
		while (write(fd, block.data(), block.size()) > 0) {
		}
		close(fd);
	}
	// After a bad time: what the earlier file held still there (a report may
	// still have been appended where the file's last page had room), the
	// daemon answering with every report in memory, and then a write once the
	// store can take it.
	void check_survives_and_recovers(const std::string &earlier_file, const std::string &earlier, size_t held,
					 const std::function<void()> &restore)
	{
		EXPECT_EQ(wlctest::read_text(earlier_file).substr(0, earlier.size()), earlier);
		EXPECT_EQ(radio_reports_of("a"), held);
		EXPECT_EQ(model_json(), "status 5"); // still serving
		EXPECT_NE(ctrl_log().find("failed to write"), std::string::npos) << ctrl_log();
		restore();
		EXPECT_EQ(radio_report("a", 11), 0);
		run_ctrl(); // what the files hold now
		EXPECT_EQ(radio_reports_of("a"), std::min<size_t>(held + 1, kHistory)) << ctrl_log();
		EXPECT_EQ(ctrl_log().find("refused report file"), std::string::npos) << ctrl_log();
	}

	static constexpr size_t kHistory = 16; // reports kept per AP and kind
	std::string store_;
	bool mounted_ = false;
};

TEST_F(StoreSpace, FullStoreLosesNothing)
{
	run_ctrl();
	report_site(rrmtest::worked_site());
	std::string file = store_ + "/a/radio.blob";
	std::string earlier = wlctest::read_text(file);
	fill();
	// Kept in memory, as when the store cannot be written. Small reports still
	// fit where the file's last page has room, so they go on until a write
	// fails (at the latest when the whole history is rewritten).
	size_t held = 1;
	while (held < 3 * kHistory && ctrl_log().find("failed to write") == std::string::npos) {
		EXPECT_EQ(radio_report("a", 6), 0);
		held++;
	}
	check_survives_and_recovers(file, earlier, std::min(held, kHistory),
				    [&] { unlink((store_ + "/filler").c_str()); });
	EXPECT_FALSE(std::filesystem::exists(file + ".tmp"));
}

TEST_F(StoreSpace, ReadOnlyStoreLosesNothing)
{
	run_ctrl();
	report_site(rrmtest::worked_site());
	std::string file = store_ + "/a/radio.blob";
	std::string earlier = wlctest::read_text(file);
	ASSERT_EQ(mount(nullptr, store_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << strerror(errno);
	EXPECT_EQ(radio_report("a", 6), 0);
	// A new AP cannot get its directory either, and is still kept.
	EXPECT_EQ(radio_report("e", 1), 0);
	EXPECT_EQ(radio_reports_of("e"), 1u);
	check_survives_and_recovers(file, earlier, 2, [&] {
		ASSERT_EQ(mount(nullptr, store_.c_str(), nullptr, MS_REMOUNT, nullptr), 0) << strerror(errno);
	});
}

} // namespace
