// fleetd's bus objects on a device: "db.ap" records joins and presence and
// refuses bad records; the operator's "fleet" object and fleetctl list,
// show, approve, refuse, forget, allow and read the history, and every bad
// call is a bus status with a message, logged once, with nothing changed.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include "fleetd_fixture.h"

namespace fleettest {
namespace {

constexpr const char *kAp = "ap1-a3-b4-c5";

class FleetService : public FleetdTest {
protected:
	std::string list_json()
	{
		std::string reply;
		EXPECT_EQ(call("fleet", "list", "{}", &reply), 0);
		return reply;
	}
	std::string history_json(const std::string &id)
	{
		std::string reply;
		EXPECT_EQ(call("fleet", "history", R"({"id":")" + id + R"("})", &reply), 0);
		return reply;
	}
};

TEST_F(FleetService, JoinAndPresenceAreRecorded)
{
	start_fleetd({"-m", "auto", "-n", "hq"});
	ASSERT_EQ(call("db.ap", "set", join_json(kAp)), 0) << log_text();
	std::string reply;
	ASSERT_EQ(call("fleet", "show", R"({"id":"ap1-a3-b4-c5"})", &reply), 0);
	for (const char *want : {R"("site":"hq")", R"("state":"approved")", R"("serial":"S1")", R"("mac":"00:11:22:a3:b4:c5")",
				 R"("hostname":"ap-one")", R"("ip":"10.0.0.2/24")", R"("fw_revision":"r42-abc")",
				 R"("cert":"-----BEGIN CERTIFICATE-----")", R"("custom_config":{"ssid":"office"})"})
		EXPECT_NE(reply.find(want), std::string::npos) << want << " in " << reply;
	// The join connection's announcement, then the adopted session's.
	ASSERT_EQ(call("db.ap", "set", R"({"id":"ap1-a3-b4-c5","online":true})"), 0);
	ASSERT_EQ(call("db.ap", "set", R"({"id":"ap1-a3-b4-c5","fw_revision":"r43","online":true})"), 0);
	ASSERT_EQ(call("fleet", "show", R"({"id":"ap1-a3-b4-c5"})", &reply), 0);
	EXPECT_NE(reply.find(R"("state":"adopted")"), std::string::npos) << reply;
	EXPECT_NE(reply.find(R"("fw_revision":"r43")"), std::string::npos) << reply;
	ASSERT_EQ(call("db.ap", "set", R"({"id":"ap1-a3-b4-c5","online":false})"), 0);
	ASSERT_EQ(call("fleet", "show", R"({"id":"ap1-a3-b4-c5"})", &reply), 0);
	EXPECT_NE(reply.find(R"("state":"offline")"), std::string::npos) << reply;
	std::string h = history_json(kAp);
	for (const char *kind : {"join", "approval", "adoption", "offline"})
		EXPECT_NE(h.find(std::string(R"("kind":")") + kind + "\""), std::string::npos) << kind << " in " << h;
}

TEST_F(FleetService, BadRecordsAreRefusedLoggedOnceAndChangeNothing)
{
	start_fleetd();
	ASSERT_EQ(call("db.ap", "set", join_json(kAp)), 0);
	std::string before = list_json();
	std::string before_history = history_json(kAp);
	struct Bad {
		std::string json, message;
	};
	std::vector<Bad> bad = {
		{R"({"cert":"C","fw_version":"1","fw_revision":"r","model":"m","serial":"s","join_req":true})",
		 "record without 'id'"},
		{R"({"id":"ap1/../x-a3-b4-c5","online":true})", "is not a device identifier"},
		{R"({"id":"zev/wlc/#","online":true})", "is not a device identifier"},
		{R"({"id":"ap1-a3-b4-c5","fw_version":"1","fw_revision":"r","model":"m","serial":"s","join_req":true})",
		 "join record without 'cert'"},
		{R"({"id":"ap1-a3-b4-c5","cert":"C","fw_version":"1","fw_revision":"r","model":"m","serial":"s","join_req":false})",
		 "'join_req' must be true"},
		{R"({"id":"ap1-a3-b4-c5","online":"yes"})", "field 'online' must be a boolean"},
		{R"({"id":7,"online":true})", "field 'id' must be a string"},
		{R"({"id":"ap1-a3-b4-c5","mac":"nonsense","online":true})", "'mac' is not a MAC address"},
		{R"({"id":"ap1-a3-b4-c5","hostname":")" + std::string(65, 'h') + R"(","online":true})", "longer than 64"},
		{R"({"id":"ap1-a3-b4-c5"})", "neither 'join_req' nor 'online'"},
		{R"({"id":"ap1-a3-b4-c5","cert":"C","fw_version":"1","fw_revision":"r","model":"m","serial":"s","join_req":true,)"
		 R"("custom_config":{"a":{"b":{"c":{"d":{"e":{"f":{"g":{"h":{"i":{"j":1}}}}}}}}}}})",
		 "too large or too deep"},
	};
	for (size_t i = 0; i < bad.size(); i++) {
		const Bad &b = bad[i];
		std::string reply;
		EXPECT_EQ(call("db.ap", "set", b.json, &reply), UBUS_STATUS_INVALID_ARGUMENT) << b.json;
		EXPECT_NE(reply.find(b.message), std::string::npos) << b.json << " → " << reply;
		// One line per refusal, written before the answer.
		EXPECT_EQ(logged("fleetd.warning: Refused AP record: "), i + 1) << log_text();
		std::string log = log_text();
		std::string last = log.substr(log.rfind("fleetd.warning: Refused AP record: "));
		EXPECT_NE(last.find(b.message), std::string::npos) << last;
	}
	EXPECT_EQ(logged("fleetd.warning: Refused AP record: "), bad.size()) << log_text();
	EXPECT_EQ(list_json(), before);
	EXPECT_EQ(history_json(kAp), before_history);
}

TEST_F(FleetService, OperatorCallsAreCheckedAndExplained)
{
	start_fleetd({"-m", "manual"});
	ASSERT_EQ(call("db.ap", "set", join_json(kAp)), 0);
	std::string before = list_json();
	struct Bad {
		std::string method, json;
		int status;
		std::string message;
	};
	std::vector<Bad> bad = {
		{"show", "{}", UBUS_STATUS_INVALID_ARGUMENT, "'id' is missing"},
		{"show", R"({"id":5})", UBUS_STATUS_INVALID_ARGUMENT, "field 'id' must be a string"},
		{"show", R"({"id":"ap9-00-00-09"})", UBUS_STATUS_NOT_FOUND, "no AP ap9-00-00-09"},
		{"approve", R"({"id":"not an id"})", UBUS_STATUS_INVALID_ARGUMENT, "is not a device identifier"},
		{"approve", R"({"id":"ap9-00-00-09"})", UBUS_STATUS_NOT_FOUND, "no AP"},
		{"refuse", R"({"id":["ap1-a3-b4-c5"]})", UBUS_STATUS_INVALID_ARGUMENT, "must be a string"},
		{"forget", R"({"id":"ap9-00-00-09"})", UBUS_STATUS_NOT_FOUND, "no AP"},
		{"list", R"({"state":"lost"})", UBUS_STATUS_INVALID_ARGUMENT, "'state' must be"},
		{"list", R"({"site":"a b"})", UBUS_STATUS_INVALID_ARGUMENT, "'site' is not a site name"},
		{"list", R"({"limit":0})", UBUS_STATUS_INVALID_ARGUMENT, "'limit' must be 1 to 2000"},
		{"list", R"({"limit":100000})", UBUS_STATUS_INVALID_ARGUMENT, "'limit' must be 1 to 2000"},
		{"list", R"({"offset":-1})", UBUS_STATUS_INVALID_ARGUMENT, "'offset' must not be negative"},
		{"list", R"({"model":true})", UBUS_STATUS_INVALID_ARGUMENT, "field 'model' must be a string"},
		{"allow", "{}", UBUS_STATUS_INVALID_ARGUMENT, "give either 'serial' or 'mac'"},
		{"allow", R"({"serial":"S1","mac":"00:11:22:33:44:55"})", UBUS_STATUS_INVALID_ARGUMENT, "either"},
		{"allow", R"({"mac":"00:11:22:33:44"})", UBUS_STATUS_INVALID_ARGUMENT, "'mac' is not a MAC address"},
		{"allow", R"({"serial":")" + std::string(32, 's') + R"("})", UBUS_STATUS_INVALID_ARGUMENT, "'serial' must be"},
		{"allow", R"({"serial":"S1","site":"../x"})", UBUS_STATUS_INVALID_ARGUMENT, "'site' is not a site name"},
		{"history", R"({"id":"ap1-a3-b4-c5","limit":"ten"})", UBUS_STATUS_INVALID_ARGUMENT, "must be a 32-bit integer"},
		{"history", R"({"id":"ap1-a3-b4-c5","limit":5000})", UBUS_STATUS_INVALID_ARGUMENT, "'limit' must be 1 to 1000"},
	};
	for (const Bad &b : bad) {
		std::string reply;
		EXPECT_EQ(call("fleet", b.method, b.json, &reply), b.status) << b.method << " " << b.json;
		EXPECT_NE(reply.find(b.message), std::string::npos) << b.method << " " << b.json << " → " << reply;
	}
	EXPECT_EQ(logged("fleetd.warning: Refused fleet "), bad.size()) << log_text();
	EXPECT_EQ(list_json(), before);
	EXPECT_NE(before.find(R"("state":"pending")"), std::string::npos) << before;
}

TEST_F(FleetService, FleetctlApprovesListsAndShowsHistory)
{
	start_fleetd({"-m", "manual", "-n", "hq"});
	ASSERT_EQ(call("db.ap", "set", join_json(kAp)), 0);
	ASSERT_EQ(call("db.ap", "set", join_json("ap2-00-00-02", "S2")), 0);
	wlctest::RunResult r = fleetctl({"list", "--state", "pending"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out.rfind("ID ", 0), 0u) << r.out;
	EXPECT_NE(r.out.find("ap1-a3-b4-c5  hq    pending"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("ap2-00-00-02"), std::string::npos) << r.out;

	r = fleetctl({"approve", kAp});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "ap1-a3-b4-c5: approved (state approved)\n");
	r = fleetctl({"refuse", "ap2-00-00-02"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "ap2-00-00-02: refused (state refused)\n");

	r = fleetctl({"--json", "list", "--state", "approved"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("\"id\": \"ap1-a3-b4-c5\""), std::string::npos) << r.out;
	EXPECT_EQ(r.out.find("ap2-00-00-02"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("\"total\": 1"), std::string::npos) << r.out;

	r = fleetctl({"history", kAp});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("join"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("approval  operator"), std::string::npos) << r.out;

	r = fleetctl({"show", kAp});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("custom_config  {\"ssid\":\"office\"}"), std::string::npos) << r.out;

	r = fleetctl({"allow", "--mac", "00:11:22:33:44:AA", "--site", "lab"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "MAC 00:11:22:33:44:aa allowed in site lab\n");
}

TEST_F(FleetService, FleetctlReportsRefusalsAndUsage)
{
	start_fleetd();
	wlctest::RunResult r = fleetctl({"show", "ap9-00-00-09"});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "fleetctl: show: no AP ap9-00-00-09\n");
	r = fleetctl({"approve", "../etc"});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "fleetctl: approve: '../etc' is not a device identifier\n");
	r = fleetctl({"history", kAp, "--limit", "many"});
	EXPECT_EQ(r.status, 2);
	EXPECT_NE(r.err.find("usage: fleetctl"), std::string::npos);
	r = fleetctl({"launch"});
	EXPECT_EQ(r.status, 2);
	kill_fleetd();
	r = fleetctl({"list"});
	EXPECT_EQ(r.status, 1);
	EXPECT_NE(r.err.find("fleetd is not running"), std::string::npos) << r.err;
}

TEST_F(FleetService, CommandsGoOnlyToConnectedAdoptedAps)
{
	start_fleetd({"-m", "auto"});
	ASSERT_EQ(call("db.ap", "set", join_json(kAp)), 0);
	struct Bad {
		std::string method, json;
		int status;
		std::string message;
	};
	std::vector<Bad> bad = {
		{"reboot", R"({"id":"ap9-00-00-09"})", UBUS_STATUS_NOT_FOUND, "no AP ap9-00-00-09"},
		{"reboot", R"({"id":"ap1-a3-b4-c5"})", UBUS_STATUS_NO_DATA, "AP ap1-a3-b4-c5 is approved"},
		{"reset", R"({"id":"bad id"})", UBUS_STATUS_INVALID_ARGUMENT, "is not a device identifier"},
		{"reboot", R"({"id":"ap1-a3-b4-c5","enabled":true})", UBUS_STATUS_INVALID_ARGUMENT, "enforced_auth only"},
		{"enforced_auth", R"({"id":"ap1-a3-b4-c5"})", UBUS_STATUS_INVALID_ARGUMENT, "'enabled' is missing"},
		{"enforced_auth", R"({"id":"ap1-a3-b4-c5","enabled":"yes"})", UBUS_STATUS_INVALID_ARGUMENT, "must be a boolean"},
	};
	for (const Bad &b : bad) {
		std::string reply;
		EXPECT_EQ(call("fleet", b.method, b.json, &reply), b.status) << b.method << " " << b.json;
		EXPECT_NE(reply.find(b.message), std::string::npos) << b.method << " " << b.json << " → " << reply;
	}
	// Adopted, but the controller's broker connection (its "mqtt.wlc") is down.
	ASSERT_EQ(call("db.ap", "set", R"({"id":"ap1-a3-b4-c5","online":true})"), 0);
	ASSERT_EQ(call("db.ap", "set", R"({"id":"ap1-a3-b4-c5","online":true})"), 0);
	std::string before = history_json(kAp);
	ASSERT_NE(before.find("adoption"), std::string::npos) << before;
	std::string reply;
	EXPECT_EQ(call("fleet", "reboot", R"({"id":"ap1-a3-b4-c5"})", &reply), UBUS_STATUS_UNKNOWN_ERROR);
	EXPECT_NE(reply.find("broker connection is down"), std::string::npos) << reply;
	EXPECT_EQ(history_json(kAp), before);
	// Offline: not sent either.
	ASSERT_EQ(call("db.ap", "set", R"({"id":"ap1-a3-b4-c5","online":false})"), 0);
	EXPECT_EQ(call("fleet", "reboot", R"({"id":"ap1-a3-b4-c5"})", &reply), UBUS_STATUS_NO_DATA);
	EXPECT_NE(reply.find("is offline and not connected"), std::string::npos) << reply;
}

TEST_F(FleetService, ObjectsComeBackWhenTheBusDaemonIsRestarted)
{
	start_fleetd();
	ASSERT_EQ(call("db.ap", "set", join_json(kAp)), 0);
	bus_->restart();
	ASSERT_TRUE(wlctest::pump([&] { return client_.online() && client_.lookup("db.ap") != 0 && client_.lookup("fleet") != 0; },
				  wlctest::kStartLimit))
		<< log_text();
	ASSERT_EQ(call("db.ap", "set", join_json("ap1-00-00-02", "S2")), 0);
	std::string reply;
	ASSERT_EQ(call("fleet", "list", "{}", &reply), 0);
	EXPECT_NE(reply.find("\"total\":2"), std::string::npos) << reply;
}

TEST_F(FleetService, ApprovalModePerSiteFromTheOptions)
{
	start_fleetd({"-m", "manual", "-m", "lab:auto", "-n", "hq"});
	std::string reply;
	ASSERT_EQ(call("fleet", "allow", R"({"serial":"S2","site":"lab"})", &reply), 0) << reply;
	ASSERT_EQ(call("db.ap", "set", join_json("ap1-00-00-01", "S1")), 0);
	ASSERT_EQ(call("db.ap", "set", join_json("ap1-00-00-02", "S2")), 0);
	ASSERT_EQ(call("fleet", "list", R"({"site":"hq","state":"pending"})", &reply), 0);
	EXPECT_NE(reply.find("ap1-00-00-01"), std::string::npos) << reply;
	ASSERT_EQ(call("fleet", "list", R"({"site":"lab","state":"approved"})", &reply), 0);
	EXPECT_NE(reply.find("ap1-00-00-02"), std::string::npos) << reply;
	EXPECT_NE(reply.find("\"total\":1"), std::string::npos) << reply;
}

TEST_F(FleetService, BadOptionsStopTheServiceWithAReason)
{
	for (const auto &args : std::vector<std::vector<std::string>>{
		     {"-m", "sometimes"}, {"-m", "a b:auto"}, {"-n", "a/b"}, {"-d", "relative.db"}, {"extra"}}) {
		std::vector<std::string> argv = {std::string(WLC_BUILD_DIR) + "/fleet/fleetd", "-s", bus_->socket()};
		argv.insert(argv.end(), args.begin(), args.end());
		std::string log = root_->path() + "/bad.log";
		wlctest::Process p(argv, {"WLC_ROOT=" + root_->path(), "WLC_LOG_FILE=" + log});
		int status = p.wait(wlctest::kStartLimit);
		EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << args[0] << " " << status;
		std::string text = wlctest::read_text(log);
		EXPECT_TRUE(text.find("fleetd.err: Bad option") != std::string::npos ||
			    text.find("fleetd.err: Unexpected argument") != std::string::npos) << text;
		EXPECT_EQ(client_.lookup("fleet"), 0u);
	}
}

TEST_F(FleetService, UnusableInventoryStopsTheServiceAndIsLeftAlone)
{
	// A file of a newer schema: refused, not moved, not written.
	std::string db = root_->at(kDatabase);
	{
		std::string init = "PRAGMA application_id = 1179407428; PRAGMA user_version = 99; CREATE TABLE ap(id TEXT);";
		wlctest::RunResult r = wlctest::run({"/usr/bin/env", "python3", "-c",
			"import sqlite3,sys; c=sqlite3.connect(sys.argv[1]); c.executescript(sys.argv[2]); c.close()", db, init});
		ASSERT_EQ(r.status, 0) << r.err;
	}
	std::string before = wlctest::read_text(db);
	std::vector<std::string> argv = {std::string(WLC_BUILD_DIR) + "/fleet/fleetd", "-s", bus_->socket()};
	wlctest::Process p(argv, {"WLC_ROOT=" + root_->path(), "WLC_LOG_FILE=" + root_->path() + "/fleetd.log"});
	int status = p.wait(wlctest::kStartLimit);
	EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
	EXPECT_NE(log_text().find("fleetd.err: Failed to open inventory: "), std::string::npos) << log_text();
	EXPECT_EQ(wlctest::read_text(db), before);
}

TEST_F(FleetService, DamagedInventoryIsKeptAsideWithAClearError)
{
	std::string db = root_->at(kDatabase);
	wlctest::write_text(db, "this is not a database, but someone's notes\n");
	start_fleetd();
	std::string log = log_text();
	size_t at = log.find("fleetd.err: Inventory " + db + " is damaged: kept as " + db + ".corrupt-");
	ASSERT_NE(at, std::string::npos) << log;
	size_t from = log.find("kept as ", at) + 8;
	std::string kept = log.substr(from, log.find(',', from) - from);
	EXPECT_EQ(wlctest::read_text(kept), "this is not a database, but someone's notes\n");
	ASSERT_EQ(call("db.ap", "set", join_json(kAp)), 0);
}

} // namespace
} // namespace fleettest
