// The controller's log relay: AP log entries into the local log service,
// which it finds once and again only when the service has gone.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

#include "controller_fixture.h"

namespace masttest {
namespace {

class LogRelay : public ControllerTest {
protected:
	void SetUp() override
	{
		ControllerTest::SetUp();
		if (IsSkipped())
			return;
		stand_in("log", {"add"});
		start_mast();
		ap_ = std::make_unique<wlctest::MqttClient>("ap1", 1883);
		// A command run for each mark shows when mast has handled what came before it.
		marks_ = root_->path() + "/marks";
		wlctest::write_text(bin_dir_ + "/mark", "#!/bin/sh\ncat >> " + marks_ + "\n");
		chmod((bin_dir_ + "/mark").c_str(), 0755);
		ASSERT_EQ(call("mqtt.wlc", "subscribe", R"({"path":"zev/wlc/test/mark/#","cb":"mark"})"), 0);
		ASSERT_TRUE(pump([&] { // until the subscription is in place
			ap_->publish("zev/wlc/test/mark/0", Bytes{}, 0);
			return seen_mark(0);
		}, 10s));
	}
	void TearDown() override
	{
		ap_.reset();
		ControllerTest::TearDown();
	}

	bool seen_mark(int n) const
	{
		return wlctest::read_text(marks_).find("zev/wlc/test/mark/" + std::to_string(n) + "\"") != std::string::npos;
	}
	// True once mast has handled everything sent before.
	bool handled()
	{
		int n = ++mark_;
		ap_->publish("zev/wlc/test/mark/" + std::to_string(n), Bytes{}, 0);
		return pump([&] { return seen_mark(n); }, 10s);
	}
	void send_entry(const std::string &msg)
	{
		ap_->publish("zev/wlc/telemetry/ap/ap1/log", payload(R"({"msg":")" + msg + R"(","priority":30})"), 0);
	}
	static std::string added(const std::string &msg)
	{
		return R"(log.add {"msg":")" + msg + R"(","priority":30,"hostname":"ap1"})";
	}
	// Replaces the log service by a new object of the same name.
	void restart_log_service()
	{
		uint32_t old_id = client_.lookup("log");
		objects_.erase(objects_.begin());
		stand_in("other", {"x"}); // so that the new object cannot get the old id back
		stand_in("log", {"add"});
		ASSERT_NE(client_.lookup("log"), old_id);
	}

	std::unique_ptr<wlctest::MqttClient> ap_;
	std::string marks_;
	int mark_ = 0;
};

TEST_F(LogRelay, EntriesNeedNoLookupOnTheBus)
{
	send_entry("one");
	ASSERT_TRUE(handled());
	// With the bus daemon stopped, a lookup would wait for it.
	bus_->process().kill(SIGSTOP);
	struct Resume {
		wlctest::Process &daemon;
		~Resume() { daemon.kill(SIGCONT); }
	} resume{bus_->process()};
	send_entry("two");
	EXPECT_TRUE(handled());
	bus_->process().kill(SIGCONT);
	ASSERT_TRUE(pump([&] { return calls_.size() == 2; }));
	EXPECT_EQ(calls_, (std::vector<std::string>{added("one"), added("two")}));
}

TEST_F(LogRelay, RestartedServiceIsFoundAgainWithoutLosingTheEntry)
{
	send_entry("one");
	ASSERT_TRUE(pump([&] { return calls_.size() == 1; }));
	restart_log_service();
	send_entry("two");
	send_entry("three");
	ASSERT_TRUE(pump([&] { return calls_.size() == 3; }));
	EXPECT_EQ(calls_, (std::vector<std::string>{added("one"), added("two"), added("three")}));
	EXPECT_EQ(log_text().find("Failed to find ubus log object"), std::string::npos);
}

TEST_F(LogRelay, ServiceAwayForAWhileIsReportedOnceAndFoundWhenBack)
{
	send_entry("one");
	ASSERT_TRUE(pump([&] { return calls_.size() == 1; }));
	objects_.erase(objects_.begin());
	send_entry("lost");
	ASSERT_TRUE(pump([&] { return log_text().find("Failed to find ubus log object") != std::string::npos; }));
	send_entry("lost too");
	// Two marks, each sent once the one before was handled: the look-up that
	// "lost too" started has run too.
	ASSERT_TRUE(handled());
	ASSERT_TRUE(handled());
	stand_in("log", {"add"});
	send_entry("two");
	ASSERT_TRUE(pump([&] { return calls_.size() == 2; }));
	EXPECT_EQ(calls_[1], added("two"));
	std::string text = log_text();
	EXPECT_EQ(text.find("Failed to find ubus log object"), text.rfind("Failed to find ubus log object")) << text;
}

} // namespace
} // namespace masttest
