// fleetd's configuration methods on a device: documents set per site,
// group and AP are kept with their versions and shown merged for an AP;
// every bad call (a config that is not JSON or not an object, wrong types,
// bad names) is a bus status with a message, logged once, with nothing
// changed; fleetctl sets and shows configurations.
#include <gtest/gtest.h>

#include "fleetd_fixture.h"

namespace fleettest {
namespace {

constexpr const char *kAp = "ap1-a3-b4-c5";

class FleetConfigCalls : public FleetdTest {
protected:
	std::string show(const std::string &json)
	{
		std::string reply;
		int status = call("fleet", "config_show", json, &reply);
		return status == 0 ? reply : "status " + std::to_string(status) + " " + reply;
	}
};

TEST_F(FleetConfigCalls, DocumentsAreVersionedAndMergedForTheAp)
{
	start_fleetd({"-m", "auto", "-n", "hq"});
	ASSERT_EQ(call("db.ap", "set", join_json(kAp)), 0);
	std::string reply;
	ASSERT_EQ(call("fleet", "config_set", R"({"site":"hq","config":{"ssid":"hq","radio":{"channel":6,"power":20}}})",
		       &reply), 0) << reply;
	EXPECT_EQ(reply, R"({"scope":"site","name":"hq","version":1})");
	// The text of a document is taken as well as a table.
	ASSERT_EQ(call("fleet", "config_set",
		       R"({"group":"lobby","config":"{\"radio\":{\"channel\":11}}","reason":"less noise","draft":true})",
		       &reply), 0) << reply;
	EXPECT_EQ(reply, R"({"scope":"group","name":"lobby","version":2})");
	ASSERT_EQ(call("fleet", "group_set", R"({"id":"ap1-a3-b4-c5","group":"lobby"})", &reply), 0) << reply;
	EXPECT_EQ(reply, R"({"id":"ap1-a3-b4-c5","group":"lobby","version":3})");
	ASSERT_EQ(call("fleet", "config_set", R"({"ap":"ap1-a3-b4-c5","config":{"radio":{"power":null}}})", &reply), 0);

	std::string ap = show(R"({"ap":"ap1-a3-b4-c5"})");
	EXPECT_NE(ap.find(R"("version":4)"), std::string::npos) << ap;
	EXPECT_NE(ap.find(R"("group":"lobby")"), std::string::npos) << ap;
	EXPECT_NE(ap.find(R"("effective_version":4)"), std::string::npos) << ap;
	EXPECT_NE(ap.find(R"("applied_version":0)"), std::string::npos) << ap;
	EXPECT_NE(ap.find(R"("effective":{"ssid":"hq","radio":{"channel":11}})"), std::string::npos) << ap;
	std::string group = show(R"({"group":"lobby"})");
	EXPECT_NE(group.find(R"("reason":"less noise","draft":true,"config":{"radio":{"channel":11}})"),
		  std::string::npos) << group;
	EXPECT_NE(group.find(R"("author":"operator)"), std::string::npos) << group;

	ASSERT_EQ(call("fleet", "config_set", R"({"site":"hq","config":{"ssid":"hq2"}})"), 0);
	std::string history;
	ASSERT_EQ(call("fleet", "config_history", R"({"site":"hq"})", &history), 0);
	EXPECT_LT(history.find(R"("version":5)"), history.find(R"("version":1)")) << history;
	EXPECT_NE(history.find(R"("config":{"ssid":"hq","radio":{"channel":6,"power":20}})"), std::string::npos) << history;

	// Kept across a restart of the service.
	kill_fleetd();
	start_fleetd({"-m", "auto", "-n", "hq"});
	ap = show(R"({"ap":"ap1-a3-b4-c5"})");
	EXPECT_NE(ap.find(R"("effective":{"ssid":"hq2","radio":{"channel":11}})"), std::string::npos) << ap;
}

TEST_F(FleetConfigCalls, BadCallsAreRefusedLoggedOnceAndChangeNothing)
{
	start_fleetd({"-m", "auto", "-n", "hq"});
	ASSERT_EQ(call("db.ap", "set", join_json(kAp)), 0);
	ASSERT_EQ(call("fleet", "config_set", R"({"site":"hq","config":{"ssid":"hq"}})"), 0);
	std::string before = show(R"({"site":"hq"})");
	std::string before_history;
	ASSERT_EQ(call("fleet", "config_history", R"({"site":"hq"})", &before_history), 0);
	struct Bad {
		std::string method, json;
		int status;
		std::string message;
	};
	std::vector<Bad> bad = {
		{"config_set", R"({"site":"hq","config":"{\"ssid\":"})", UBUS_STATUS_INVALID_ARGUMENT, "'config' is not JSON"},
		{"config_set", R"({"site":"hq","config":"ssid=hq"})", UBUS_STATUS_INVALID_ARGUMENT, "'config' is not JSON"},
		{"config_set", R"({"site":"hq","config":"[1,2]"})", UBUS_STATUS_INVALID_ARGUMENT,
		 "'config' is not a JSON object but array"},
		{"config_set", R"({"site":"hq","config":[1,2]})", UBUS_STATUS_INVALID_ARGUMENT,
		 "field 'config' must be a JSON object"},
		{"config_set", R"({"site":"hq","config":7})", UBUS_STATUS_INVALID_ARGUMENT, "field 'config' must be a JSON object"},
		{"config_set", R"({"site":"hq"})", UBUS_STATUS_INVALID_ARGUMENT, "'config' is missing"},
		{"config_set", R"({"config":{}})", UBUS_STATUS_INVALID_ARGUMENT, "give one of 'site', 'group' or 'ap'"},
		{"config_set", R"({"site":"hq","group":"g","config":{}})", UBUS_STATUS_INVALID_ARGUMENT, "give one of"},
		{"config_set", R"({"site":"h q","config":{}})", UBUS_STATUS_INVALID_ARGUMENT, "'site' is not a site name"},
		{"config_set", R"({"group":"../g","config":{}})", UBUS_STATUS_INVALID_ARGUMENT, "'group' must be"},
		{"config_set", R"({"ap":"ap1/#","config":{}})", UBUS_STATUS_INVALID_ARGUMENT, "is not a device identifier"},
		{"config_set", R"({"site":5,"config":{}})", UBUS_STATUS_INVALID_ARGUMENT, "field 'site' must be a string"},
		{"config_set", R"({"site":"hq","config":{},"draft":"yes"})", UBUS_STATUS_INVALID_ARGUMENT,
		 "field 'draft' must be a boolean"},
		{"config_set", R"({"site":"hq","config":{},"delay":-1})", UBUS_STATUS_INVALID_ARGUMENT, "'delay' must be 0 to"},
		{"config_set", R"({"site":"hq","config":{},"reason":")" + std::string(201, 'r') + R"("})",
		 UBUS_STATUS_INVALID_ARGUMENT, "'reason' must be at most 200"},
		{"config_show", R"({"site":"nowhere"})", UBUS_STATUS_NOT_FOUND, "no configuration for site nowhere"},
		{"config_show", R"({"ap":"ap9-00-00-09"})", UBUS_STATUS_NOT_FOUND, "no configuration for ap ap9-00-00-09"},
		{"config_history", R"({"site":"hq","limit":0})", UBUS_STATUS_INVALID_ARGUMENT, "'limit' must be 1 to 100"},
		{"group_set", R"({"group":"g"})", UBUS_STATUS_INVALID_ARGUMENT, "'id' is missing"},
		{"group_set", R"({"id":"ap9-00-00-09","group":"g"})", UBUS_STATUS_NOT_FOUND, "no AP ap9-00-00-09"},
		{"group_set", R"({"id":"ap1-a3-b4-c5","group":"a b"})", UBUS_STATUS_INVALID_ARGUMENT, "'group' must be"},
		{"group_set", R"({"id":"ap1-a3-b4-c5","group":true})", UBUS_STATUS_INVALID_ARGUMENT, "must be a string"},
	};
	for (const Bad &b : bad) {
		std::string reply;
		EXPECT_EQ(call("fleet", b.method, b.json, &reply), b.status) << b.method << " " << b.json;
		EXPECT_NE(reply.find(b.message), std::string::npos) << b.method << " " << b.json << " → " << reply;
	}
	EXPECT_EQ(logged("fleetd.warning: Refused fleet "), bad.size()) << log_text();
	EXPECT_EQ(show(R"({"site":"hq"})"), before);
	std::string after_history;
	ASSERT_EQ(call("fleet", "config_history", R"({"site":"hq"})", &after_history), 0);
	EXPECT_EQ(after_history, before_history);
	EXPECT_NE(show(R"({"ap":"ap1-a3-b4-c5"})").find(R"("group":"")"), std::string::npos);
}

TEST_F(FleetConfigCalls, FleetctlSetsShowsAndListsConfigurations)
{
	start_fleetd({"-m", "auto", "-n", "hq"});
	ASSERT_EQ(call("db.ap", "set", join_json(kAp)), 0);
	std::string file = root_->path() + "/site.json";
	wlctest::write_text(file, "{\n  \"ssid\": \"hq\",\n  \"channel\": 6\n}\n");
	wlctest::RunResult r = fleetctl({"config", "set", "--site", "hq", "--file", file, "--reason", "first"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "site hq: configuration version 1\n");
	r = fleetctl({"group", kAp, "lobby"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "ap1-a3-b4-c5: in group lobby (version 2)\n");
	r = fleetctl({"config", "set", "--group", "lobby", "--text", R"({"channel":11})", "--draft"});
	ASSERT_EQ(r.status, 0) << r.err;
	r = fleetctl({"config", "show", "--ap", kAp});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("effective_version  3\n"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find(R"(effective          {"ssid":"hq","channel":11})"), std::string::npos) << r.out;
	r = fleetctl({"config", "history", "--site", "hq"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out.rfind("VERSION ", 0), 0u) << r.out;
	EXPECT_NE(r.out.find(R"(first   no     {"ssid":"hq","channel":6})"), std::string::npos) << r.out;
	r = fleetctl({"--json", "config", "show", "--group", "lobby"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("\"draft\": true"), std::string::npos) << r.out;

	r = fleetctl({"config", "set", "--site", "hq", "--text", "{\"ssid\":"});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "fleetctl: config set: 'config' is not JSON: unexpected end of data\n");
	r = fleetctl({"config", "set", "--site", "hq", "--file", root_->path() + "/missing.json"});
	EXPECT_EQ(r.status, 1);
	EXPECT_NE(r.err.find("cannot read"), std::string::npos) << r.err;
	r = fleetctl({"config", "set", "--site", "hq"});
	EXPECT_EQ(r.status, 2);
	EXPECT_NE(r.err.find("config set (--site"), std::string::npos) << r.err;
	r = fleetctl({"group"});
	EXPECT_EQ(r.status, 2);
	// Nothing of the refused ones was kept.
	r = fleetctl({"config", "history", "--site", "hq"});
	EXPECT_EQ(r.out.find("version 2"), std::string::npos);
	EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
}

} // namespace
} // namespace fleettest
