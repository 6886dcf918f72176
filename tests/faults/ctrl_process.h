// rrm_ctrl as a process of its own on the test's device root, as it runs on
// the controller (kill, restart, its own file system), with its log in a file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ctrl_fixture.h"

namespace faulttest {

class CtrlProcessTest : public rrmtest::CtrlTest {
protected:
	void TearDown() override
	{
		ctrl_proc_.reset();
		CtrlTest::TearDown();
	}
	// Starts rrm_ctrl for site1, radio 1, and waits for its object. A killed
	// rrm_ctrl's object stays on the bus until the bus daemon has seen its
	// connection close: that is waited for first, so that the object found is
	// the new process's.
	std::unique_ptr<wlctest::Process> start_ctrl()
	{
		EXPECT_TRUE(wlctest::pump([&] { return client_.lookup(object_) == 0; }, wlctest::kStartLimit))
			<< "an earlier rrm_ctrl's object is still on the bus\n" << ctrl_log();
		std::vector<std::string> args = {std::string(WLC_BUILD_DIR) + "/rrm/rrm_ctrl",
						 "-p", "pol", "-s", "site1", "-b", "1", "-c", "1", "-c", "6", "-c", "11",
						 "-w", "20", "-n", "medium", "-r", "graceful", "-l", "10", "-h", "20"};
		auto p = std::make_unique<wlctest::Process>(
			args, std::vector<std::string>{"WLC_ROOT=" + root_->path(), "WLC_LOG_FILE=" + ctrl_log_path()});
		EXPECT_TRUE(wlctest::pump([&] { return client_.lookup(object_) != 0; }, wlctest::kStartLimit)) << ctrl_log();
		return p;
	}
	// The fixture's own rrm_ctrl, stopped first when it runs.
	void run_ctrl()
	{
		ctrl_proc_.reset();
		ctrl_proc_ = start_ctrl();
	}
	std::string ctrl_log_path() const { return root_->path() + "/ctrl.log"; }
	std::string ctrl_log() const { return wlctest::read_text(ctrl_log_path()); }

	std::unique_ptr<wlctest::Process> ctrl_proc_;
};

} // namespace faulttest
