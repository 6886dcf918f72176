// fleetd killed with SIGKILL under a storm of join records: started anew
// on the same file, its inventory holds every join it acknowledged, each
// with its state and its history.
#include <gtest/gtest.h>

#include <wlc/blob.h>

#include <csignal>
#include <cstdio>
#include <list>
#include <set>

#include "fleetd_fixture.h"

namespace fleettest {
namespace {

constexpr size_t kInFlight = 64;
constexpr size_t kAckedBeforeKill = 600;
constexpr int kStorm = 4000;

std::string id_of(int i)
{
	char id[32];
	std::snprintf(id, sizeof id, "ap1-00-%02x-%02x", (i >> 8) & 0xff, i & 0xff);
	return id;
}

class FleetKill : public FleetdTest {
protected:
	// Keeps kInFlight join records on their way until stop() holds.
	void storm(const std::function<bool()> &stop)
	{
		uint32_t db = client_.lookup("db.ap");
		ASSERT_NE(db, 0u);
		std::list<std::unique_ptr<wlc::AsyncCall>> calls;
		size_t in_flight = 0;
		auto send = [&] {
			int i = next_++;
			auto call = std::make_unique<wlc::AsyncCall>();
			wlc::BlobBuf args;
			ASSERT_TRUE(args.add_json(join_json(id_of(i), "S" + std::to_string(i))));
			std::string id = id_of(i);
			ASSERT_EQ(client_.call_async(db, "set", args, *call, nullptr, [this, id, &in_flight](int status) {
				in_flight--;
				if (status == UBUS_STATUS_OK)
					acked_.insert(id);
			}), UBUS_STATUS_OK);
			in_flight++;
			calls.push_back(std::move(call));
		};
		wlctest::pump([&] {
			while (in_flight < kInFlight && next_ < kStorm)
				send();
			return stop();
		}, 120s);
		// Killed with these still in flight: they end unanswered.
		fleetd_->kill(SIGKILL);
		fleetd_->wait(20s);
		calls.clear();
	}

	std::set<std::string> listed()
	{
		std::set<std::string> ids;
		for (int offset = 0;; offset += 2000) {
			std::string reply;
			EXPECT_EQ(call("fleet", "list", R"({"limit":2000,"offset":)" + std::to_string(offset) + "}", &reply), 0);
			size_t before = ids.size();
			for (size_t at = reply.find("\"id\":\""); at != std::string::npos; at = reply.find("\"id\":\"", at + 1))
				ids.insert(reply.substr(at + 6, reply.find('"', at + 6) - at - 6));
			if (ids.size() == before)
				return ids;
		}
	}

	std::set<std::string> acked_;
	int next_ = 0;
};

TEST_F(FleetKill, EveryAcknowledgedJoinSurvivesAKillMidStorm)
{
	start_fleetd({"-m", "auto"});
	storm([&] { return acked_.size() >= kAckedBeforeKill; });
	ASSERT_GE(acked_.size(), kAckedBeforeKill);
	ASSERT_LT(static_cast<size_t>(next_), acked_.size() + kInFlight + 1) << "the kill came after the storm";
	ASSERT_TRUE(wlctest::pump([&] { return client_.lookup("db.ap") == 0; }, wlctest::kStartLimit));

	start_fleetd({"-m", "auto"});
	EXPECT_EQ(logged("Inventory"), 0u) << "the file was taken as damaged: " << log_text();
	std::set<std::string> ids = listed();
	std::vector<std::string> lost;
	std::set_difference(acked_.begin(), acked_.end(), ids.begin(), ids.end(), std::back_inserter(lost));
	EXPECT_TRUE(lost.empty()) << lost.size() << " acknowledged joins lost, first " << lost.front();
	// Each whole: approved, with its join and approval in the history.
	for (const std::string &id : {*acked_.begin(), *acked_.rbegin()}) {
		std::string reply;
		ASSERT_EQ(call("fleet", "show", R"({"id":")" + id + R"("})", &reply), 0);
		EXPECT_NE(reply.find("\"state\":\"approved\""), std::string::npos) << reply;
		ASSERT_EQ(call("fleet", "history", R"({"id":")" + id + R"("})", &reply), 0);
		EXPECT_NE(reply.find("\"kind\":\"join\""), std::string::npos) << reply;
		EXPECT_NE(reply.find("\"kind\":\"approval\""), std::string::npos) << reply;
	}
	// The restarted service goes on recording.
	ASSERT_EQ(call("db.ap", "set", join_json(id_of(kStorm + 1))), 0);
	EXPECT_EQ(listed().size(), ids.size() + 1);
}

} // namespace
} // namespace fleettest
