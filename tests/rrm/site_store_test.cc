// Two sites' rrm_ctrl processes on one controller, each with the store
// directory its init script gives it: after a restart each holds only its own
// APs, and one that forgets APs to stay within its budget never removes the
// other's files.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "ctrl_fixture.h"

namespace {

using namespace std::chrono_literals;

struct SiteCtrl {
	std::string site;
	std::string object;
	std::string store; // device path
	std::unique_ptr<wlctest::Process> proc;
};

class SiteStores : public rrmtest::CtrlTest {
protected:
	void SetUp() override
	{
		CtrlTest::SetUp();
		for (const char *site : {"site1", "site2"})
			sites_.push_back({site, std::string("rrm_ctrl.") + site + ".1", rrm::site_store_dir(site, 1), nullptr});
	}
	void TearDown() override
	{
		for (SiteCtrl &s : sites_)
			s.proc.reset();
		CtrlTest::TearDown();
	}
	std::string log_path(const SiteCtrl &s) const { return root_->path() + "/" + s.site + ".log"; }
	std::string log_of(const SiteCtrl &s) const { return wlctest::read_text(log_path(s)); }
	// Starts the site's rrm_ctrl (a budget of 1 MiB: at most 1,024 APs) and
	// waits for its object. A stopped one's object is waited away first, so
	// that the object found is the new process's.
	void run(SiteCtrl &s)
	{
		ASSERT_TRUE(wlctest::pump([&] { return client_.lookup(s.object) == 0; }, wlctest::kStartLimit));
		std::vector<std::string> args = {std::string(WLC_BUILD_DIR) + "/rrm/rrm_ctrl",
						 "-p", "pol", "-s", s.site, "-b", "1", "-c", "1", "-c", "6", "-c", "11", "-w", "20",
						 "-n", "medium", "-r", "graceful", "-l", "10", "-h", "20", "-m", "1", "-d", s.store};
		s.proc = std::make_unique<wlctest::Process>(
			args, std::vector<std::string>{"WLC_ROOT=" + root_->path(), "WLC_LOG_FILE=" + log_path(s)});
		ASSERT_TRUE(wlctest::pump([&] { return client_.lookup(s.object) != 0; }, wlctest::kStartLimit)) << log_of(s);
	}
	void stop(SiteCtrl &s)
	{
		s.proc->kill(SIGTERM);
		EXPECT_NE(s.proc->wait(10s), -1);
		s.proc.reset();
	}
	int radio_report(const SiteCtrl &s, const std::string &ap)
	{
		rrm::RadioReport r;
		r.channel = 6;
		r.power = 17;
		return call(s.object, "report_add", [&](wlc::BlobBuf &b) {
			b.add("type", "radio");
			b.add("id", ap);
			auto data = b.table("data");
			rrm::encode_radio(b, r);
		});
	}
	// 0 when the controller holds the AP's radio history, NO_DATA when not.
	int holds(const SiteCtrl &s, const std::string &ap)
	{
		return call_json(s.object, "report_list", R"({"type":"radio","id":")" + ap + R"("})");
	}
	bool has_files(const SiteCtrl &s, const std::string &ap) const
	{
		return std::filesystem::exists(root_->path() + s.store + "/" + ap + "/radio.blob");
	}

	std::vector<SiteCtrl> sites_;
	const std::vector<std::string> first_aps_ = {"a1", "a2", "a3"};
	const std::vector<std::string> second_aps_ = {"b1", "b2"};
};

TEST_F(SiteStores, EachLoadsOnlyItsOwnAps)
{
	SiteCtrl &one = sites_[0], &two = sites_[1];
	run(one);
	run(two);
	for (const std::string &ap : first_aps_)
		EXPECT_EQ(radio_report(one, ap), 0);
	for (const std::string &ap : second_aps_)
		EXPECT_EQ(radio_report(two, ap), 0);
	stop(one);
	stop(two);
	run(one);
	run(two);
	for (const std::string &ap : first_aps_) {
		EXPECT_EQ(holds(one, ap), 0) << ap;
		EXPECT_EQ(holds(two, ap), UBUS_STATUS_NO_DATA) << ap;
		EXPECT_TRUE(has_files(one, ap)) << ap;
	}
	for (const std::string &ap : second_aps_) {
		EXPECT_EQ(holds(two, ap), 0) << ap;
		EXPECT_EQ(holds(one, ap), UBUS_STATUS_NO_DATA) << ap;
		EXPECT_TRUE(has_files(two, ap)) << ap;
	}
}

TEST_F(SiteStores, ForgettingKeepsTheOtherSitesFiles)
{
	SiteCtrl &one = sites_[0], &two = sites_[1];
	run(one);
	for (const std::string &ap : first_aps_)
		EXPECT_EQ(radio_report(one, ap), 0);
	run(two);
	// More APs than site2's budget holds: it forgets the APs silent longest.
	size_t sent = 0;
	while (sent < 1100 && log_of(two).find(", forget ") == std::string::npos)
		ASSERT_EQ(radio_report(two, "b" + std::to_string(sent++)), 0);
	std::string log = log_of(two);
	ASSERT_NE(log.find(", forget "), std::string::npos) << "site2 forgot nothing after " << sent << " APs";
	for (const std::string &ap : first_aps_) {
		EXPECT_EQ(log.find(", forget " + ap + "\n"), std::string::npos) << ap;
		EXPECT_TRUE(has_files(one, ap)) << ap;
		EXPECT_EQ(holds(one, ap), 0) << ap;
	}
	// What site1 wrote is still there for its next start.
	stop(one);
	run(one);
	for (const std::string &ap : first_aps_)
		EXPECT_EQ(holds(one, ap), 0) << ap;
}

} // namespace
