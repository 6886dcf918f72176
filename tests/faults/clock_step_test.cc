// The wall clock stepping back (a controller that ran ahead until its time
// was corrected): reports stored with stamps later than now are kept, taken
// as received now, and age out from there instead of living on. Timers run
// on the monotonic clock; only the report stamps read the wall clock, which
// the test sets for the controller.
#include <gtest/gtest.h>

#include <filesystem>

#include "ctrl_fixture.h"
#include "ctrl/store.h"

namespace {

using namespace std::chrono_literals;

class ClockStepBack : public rrmtest::CtrlTest {
protected:
	std::string list(const std::string &ap)
	{
		std::string reply;
		int status = call_json(object_, "report_list", R"({"type":"radio","id":")" + ap + R"(","limit":1})", &reply);
		return status == 0 ? reply : "status " + std::to_string(status);
	}
	bool in_model(const std::string &ap)
	{
		ctrl_->power_step();
		return model_json().find(R"("id":")" + ap + R"(")") != std::string::npos;
	}
	const int64_t month_ = 30 * 86400;
};

TEST_F(ClockStepBack, ReportsFromTheFutureAgeFromNow)
{
	int64_t corrected = now_;
	now_ = corrected + month_; // the clock ran a month ahead
	start();
	rrmtest::SiteModel site = rrmtest::worked_site();
	report_site(site);
	stop();

	now_ = corrected;
	start();
	EXPECT_NE(log_text().find("are stamped later than now, taken as now"), std::string::npos) << log_text();
	EXPECT_NE(list("c").find(R"({"c":{"reports":[{"ts":)" + std::to_string(corrected) + ","), std::string::npos)
		<< list("c");
	EXPECT_TRUE(in_model("c"));

	// c falls silent: it leaves the model after the usual age, not a month later.
	now_ += rrm::report_age_floor_s + 1;
	site.radios.erase("c");
	report_site(site);
	EXPECT_FALSE(in_model("c"));
	EXPECT_TRUE(in_model("a"));

	// The files were rewritten with the stamps taken: a day later they are gone.
	stop();
	now_ += rrm::max_file_age_s;
	start();
	EXPECT_EQ(list("c"), "status 5");
	EXPECT_FALSE(std::filesystem::exists(root_->path() + "/etc/wlc/rrm/radio1/c/radio.blob"));
}

TEST_F(ClockStepBack, WhileRunningReportsAgeFromNow)
{
	int64_t corrected = now_;
	now_ = corrected + month_;
	start();
	rrmtest::SiteModel site = rrmtest::worked_site();
	report_site(site);
	EXPECT_TRUE(in_model("c"));

	now_ = corrected; // the time is put right while the controller runs
	EXPECT_TRUE(in_model("c"));
	EXPECT_NE(log_text().find("clock stepped back, reports stamped later than now are taken as now"), std::string::npos)
		<< log_text();
	EXPECT_NE(list("c").find(R"({"c":{"reports":[{"ts":)" + std::to_string(corrected) + ","), std::string::npos)
		<< list("c");

	now_ += rrm::report_age_floor_s + 1;
	site.radios.erase("c");
	report_site(site);
	EXPECT_FALSE(in_model("c"));
	EXPECT_TRUE(in_model("a"));
	// What the files hold was taken as now too: after a restart a day later c is gone.
	stop();
	now_ += rrm::max_file_age_s;
	start();
	EXPECT_EQ(list("c"), "status 5");
}

} // namespace
