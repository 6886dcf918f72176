// Telemetry end to end: fleetd polls the adopted AP's vigil through the
// controller's bridge ("request_response_batch") at its period, keeps the
// last answers and a time series, reads the RRM model of the site's
// controller, and answers the operator's calls (the site's summary too), refusing bad ones.
#include <gtest/gtest.h>

#include <wlc/blob.h>

#include "site_fixture.h"

namespace fleettest {
namespace {

using masttest::pump;

class FleetTelemetrySite : public FleetSiteTest {
protected:
	std::vector<std::string> devices() const override
	{
		return {"ap1"};
	}
	std::vector<std::string> fleetd_args() const override { return {"-m", "auto", "-n", "hq", "-t", "2"}; }
	size_t samples()
	{
		std::string s = fleet("telemetry_series", R"({"id":")" + id("ap1") + R"("})");
		size_t n = 0;
		for (size_t at = s.find(R"({"at":)"); at != std::string::npos; at = s.find(R"({"at":)", at + 1))
			n++;
		return n;
	}
};

TEST_F(FleetTelemetrySite, AnswersAndSeriesOfTheApAndTheSiteModelCost)
{
	// The site's RRM controller as the controller's bus shows it: its model.
	wlc::BusObject rrm("rrm_ctrl.hq.0", {{"model", {}, [](wlc::Request &req, blob_attr *) {
		wlc::BlobBuf model;
		model.add_u64("timestamp", 1).add_u32("cost", 58);
		req.reply(model);
		return UBUS_STATUS_OK;
	}}});
	ASSERT_EQ(rrm.add(client_), UBUS_STATUS_OK);
	start_ap("ap1");
	ASSERT_NO_FATAL_FAILURE(wait_adopted("ap1"));
	std::string root = ap_root("ap1");
	wlctest::Process vigil({std::string(WLC_BUILD_DIR) + "/vigil/vigil"},
			       {"WLC_ROOT=" + root, "WLC_LOG_FILE=" + root + "/vigil.log"});
	ASSERT_TRUE(pump([&] {
		return fleet("telemetry_show", R"({"id":")" + id("ap1") + R"("})").find(R"("wireless_clients":{)") !=
		       std::string::npos;
	}, wlctest::kStartLimit)) << fleetd_log() << ap_log("ap1");
	std::string shown = fleet("telemetry_show", R"({"id":")" + id("ap1") + R"("})");
	EXPECT_NE(shown.find(R"("health":{"at":)"), std::string::npos) << shown;
	EXPECT_NE(shown.find(R"("cpu":[)"), std::string::npos) << shown;
	EXPECT_NE(shown.find(R"("radio":{"at":)"), std::string::npos) << shown;
	EXPECT_NE(shown.find(R"("clients":[)"), std::string::npos) << shown;

	// A sample per round, each with the radio's channel.
	ASSERT_TRUE(pump([&] { return samples() >= 3; }, wlctest::kStartLimit)) << fleetd_log();
	std::string series = fleet("telemetry_series", R"({"id":")" + id("ap1") + R"("})");
	EXPECT_NE(series.find(R"("radios":[{"radio":0,"channel":)"), std::string::npos) << series;
	EXPECT_NE(series.find(R"("clients":0)"), std::string::npos) << series;
	std::string cost = fleet("telemetry_series", R"({"site":"hq","radio":0})");
	EXPECT_NE(cost.find(R"("cost":58})"), std::string::npos) << cost;

	// The site's APs by state, and the clients the adopted AP counted.
	std::string summary = fleet("site_summary", R"({"site":"hq"})");
	EXPECT_NE(summary.find(R"("total":1,"states":{"pending":0,"approved":0,"adopted":1,"offline":0,"refused":0})"),
		  std::string::npos) << summary;
	EXPECT_NE(summary.find(R"("clients":0,"counted":1)"), std::string::npos) << summary;
	std::string other = fleet("site_summary", R"({"site":"lab"})");
	EXPECT_NE(other.find(R"("total":0,)"), std::string::npos) << other;
	EXPECT_NE(other.find(R"("clients":0,"counted":0)"), std::string::npos) << other;

	struct Bad {
		std::string method, json, message;
	};
	std::vector<Bad> bad = {
		{"telemetry_show", "{}", "'id' is missing"},
		{"telemetry_show", R"({"id":"../x"})", "is not a device identifier"},
		{"telemetry_show", R"({"id":"ap9-00-00-09"})", "no AP ap9-00-00-09"},
		{"telemetry_series", R"({"site":"hq"})", "give 'id', or 'site' and 'radio'"},
		{"telemetry_series", R"({"id":"ap1-a3-b4-c5","radio":0})", "give 'id', or 'site' and 'radio'"},
		{"telemetry_series", R"({"site":"hq","radio":-1})", "'radio' must be 0 to 255"},
		{"telemetry_series", R"({"site":"hq","radio":"0"})", "field 'radio' must be a 32-bit integer"},
		{"site_summary", "{}", "'site' is missing"},
		{"site_summary", R"({"site":"../x"})", "'site' is not a site name"},
		{"site_summary", R"({"site":1})", "field 'site' must be a string"},
	};
	size_t before = fleetd_logged("fleetd.warning: Refused fleet ");
	for (const Bad &b : bad)
		EXPECT_NE(fleet(b.method, b.json).find(b.message), std::string::npos) << b.method << " " << b.json;
	EXPECT_EQ(fleetd_logged("fleetd.warning: Refused fleet "), before + bad.size());

	wlctest::RunResult r = fleetctl_run({"telemetry", id("ap1")});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("TIME "), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("radio0"), std::string::npos) << r.out;
}

} // namespace
} // namespace fleettest
