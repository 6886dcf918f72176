// mast on an AP killed with SIGKILL while it saves what a join gave it: the
// files under /etc/wlc are there whole or not at all, and the AP joins and
// connects again when started anew.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "ap_fixture.h"

namespace {

using wlctest::pump;
using namespace std::chrono_literals;

class MastKill : public masttest::ApTest {
protected:
	// The file holds exactly want, or is absent; never empty or cut.
	void whole_or_absent(const std::string &abs, const std::string &want)
	{
		std::string path = ap_path(abs);
		if (std::filesystem::exists(path)) {
			EXPECT_EQ(wlctest::read_text(path), want) << abs;
		}
	}
};

TEST_F(MastKill, JoinFilesAreWholeAfterAKillMidSave)
{
	wlctest::MqttClient services("services", 1883);
	ASSERT_TRUE(services.subscribe("zev/wlc/control/ap/+/join_request"));
	start_ap({"-h", "127.0.0.1:8883"});
	answer_join(services);
	ASSERT_TRUE(pump([&] { return ap_logged("mast.notice: Save WLC certificate"); }, 20s)) << ap_log();
	ap_mast_->kill(SIGKILL);
	ap_mast_->wait(20s);
	std::string cert = wlctest::read_text(server_cert_path());
	whole_or_absent("/etc/wlc/mqtt_ca.crt", cert);
	whole_or_absent("/etc/wlc/wlc_addr", "127.0.0.1:8883");

	// Started anew, it joins and keeps whole files. The same controller
	// client answers: a second client with its id would take over its
	// session, and the two would push each other off the broker.
	join(services);
	EXPECT_EQ(wlctest::read_text(ap_path("/etc/wlc/mqtt_ca.crt")), cert);
	EXPECT_EQ(wlctest::read_text(ap_path("/etc/wlc/wlc_addr")), "127.0.0.1:8883");
	EXPECT_EQ(ap_status(), "connect");
}

TEST_F(MastKill, AdoptedApComesBackAfterAKill)
{
	join();
	ap_mast_->kill(SIGKILL);
	ap_mast_->wait(20s);
	EXPECT_EQ(wlctest::read_text(ap_path("/etc/wlc/mqtt_ca.crt")), wlctest::read_text(server_cert_path()));
	EXPECT_EQ(wlctest::read_text(ap_path("/etc/wlc/wlc_addr")), "127.0.0.1:8883");
	for (const auto &e : std::filesystem::directory_iterator(ap_path("/etc/wlc")))
		EXPECT_NE(e.path().extension(), ".tmp") << e.path();
	size_t connected = ap_log().find("mast.notice: Connected");
	// As the init system starts an adopted AP.
	start_ap({"-a", "-h", "127.0.0.1"});
	ASSERT_TRUE(pump([&] { return ap_log().find("mast.notice: Connected", connected + 1) != std::string::npos; }, 20s))
		<< ap_log();
	EXPECT_EQ(ap_status(), "connect");
}

} // namespace
