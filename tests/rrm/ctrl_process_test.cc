// The rrm_ctrl program: start-up, failures, and a restart that keeps the
// newest reports and so the same model.
#include <gtest/gtest.h>

#include <csignal>

#include "ctrl_fixture.h"

namespace {

using namespace std::chrono_literals;

class CtrlProcessTest : public rrmtest::CtrlTest {
protected:
	std::unique_ptr<wlctest::Process> run_ctrl(std::vector<std::string> args)
	{
		args.insert(args.begin(), std::string(WLC_BUILD_DIR) + "/rrm/rrm_ctrl");
		return std::make_unique<wlctest::Process>(
			args, std::vector<std::string>{"WLC_ROOT=" + root_->path(), "WLC_LOG_FILE=" + root_->path() + "/ctrl.log"});
	}
	std::string ctrl_log() const { return wlctest::read_text(root_->path() + "/ctrl.log"); }
	const std::vector<std::string> good_ = {"-p", "pol", "-s", "site1", "-b", "1", "-c", "1", "-c", "6", "-c", "11",
						"-w", "20", "-n", "medium", "-r", "graceful", "-l", "10", "-h", "20"};
};

TEST_F(CtrlProcessTest, BadOptionsStop)
{
	auto p = run_ctrl({"-p", "pol", "-s", "site1", "-c", "1"});
	int status = p->wait(10s);
	ASSERT_TRUE(WIFEXITED(status));
	EXPECT_EQ(WEXITSTATUS(status), 255);
	std::string log = ctrl_log();
	EXPECT_NE(log.find("rrm_ctrl.debug: Reading config...\n"), std::string::npos);
	EXPECT_NE(log.find("rrm_ctrl.err: Missing radio id\n"), std::string::npos);
	EXPECT_NE(log.find("rrm_ctrl.info: Stop RRM controller daemon\n"), std::string::npos);
}

TEST_F(CtrlProcessTest, RestartKeepsModel)
{
	auto p = run_ctrl(good_);
	ASSERT_TRUE(wlctest::pump([&] { return client_.lookup(object_) != 0; }, 10s)) << ctrl_log();
	report_site(rrmtest::worked_site());
	EXPECT_EQ(model_json(), "status 5");
	// Run a step now: the channel period drops to one second.
	std::string reply;
	EXPECT_EQ(call_json(object_, "config", R"({"channel_timer":1})", &reply), 0);
	ASSERT_TRUE(wlctest::pump([&] { return !published_.empty(); }, 10s)) << ctrl_log();
	EXPECT_EQ(published_[0].path, "zev/wlc/rrm/site1/ap/c/1/cmd/config");
	std::string before = model_json();
	EXPECT_NE(before.find(R"("cost":58)"), std::string::npos);
	p->kill(SIGTERM);
	int status = p->wait(10s);
	ASSERT_TRUE(WIFEXITED(status));
	EXPECT_EQ(WEXITSTATUS(status), 255);
	EXPECT_NE(ctrl_log().find("rrm_ctrl.info: [site1/1] Stop RRM controller daemon"), std::string::npos);

	published_.clear();
	// Its object stays on the bus until the bus daemon has seen the stopped
	// process's connection close; the one found next must be the new one's.
	ASSERT_TRUE(wlctest::pump([&] { return client_.lookup(object_) == 0; }, wlctest::kStartLimit));
	p = run_ctrl(good_);
	ASSERT_TRUE(wlctest::pump([&] { return client_.lookup(object_) != 0; }, wlctest::kStartLimit));
	EXPECT_EQ(call_json(object_, "config", R"({"channel_timer":1})", &reply), 0);
	ASSERT_TRUE(wlctest::pump([&] { return !published_.empty(); }, 10s)) << ctrl_log();
	EXPECT_EQ(published_[0].path, "zev/wlc/rrm/site1/ap/c/1/cmd/config");
	std::string after = model_json();
	// The same model, built at another time.
	EXPECT_EQ(after.substr(after.find("\"cost\"")), before.substr(before.find("\"cost\"")));
	std::string list;
	EXPECT_EQ(call_json(object_, "report_list", R"({"type":"radio","id":"c","limit":1})", &list), 0);
	EXPECT_NE(list.find(R"({"c":{"reports":[{"ts":)"), std::string::npos) << list;
}

} // namespace
