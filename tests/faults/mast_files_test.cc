// An AP whose /etc/wlc holds a cut certificate, a foreign controller address
// or a stale pending configuration: mast starts, keeps answering on the bus,
// never connects to a broker it cannot verify, and logs why.
#include <gtest/gtest.h>

#include "ap_fixture.h"

namespace {

using wlctest::pump;
using namespace std::chrono_literals;

class MastFiles : public masttest::ApTest {};

TEST_F(MastFiles, CutCertificateIsNeverTrusted)
{
	std::string pem = wlctest::read_text(pki_.server_cert);
	wlctest::write_text(ap_path("/etc/wlc/mqtt_ca.crt"), pem.substr(0, pem.size() / 2));
	wlctest::write_text(ap_path("/tmp/ap_apply.config"), "{\"ssid\": \"half");
	start_ap({"-a", "-h", "127.0.0.1"});
	ASSERT_TRUE(pump([&] { return ap_logged("mast.warning: MQTT connection to 127.0.0.1:8883 cannot start: "); }, 20s))
		<< ap_log();
	EXPECT_EQ(ap_status(), "connect");
	EXPECT_TRUE(ap_mast_->running());
	// Said once, not on every retry.
	std::string log = ap_log();
	std::string said = "cannot start: ";
	EXPECT_EQ(log.find(said, log.find(said) + 1), std::string::npos) << log;
	EXPECT_FALSE(ap_logged("mast.notice: Connected"));
}

// What the init system hands over from a foreign /etc/wlc/wlc_addr.
TEST_F(MastFiles, ForeignControllerAddressKeepsTheDaemonServing)
{
	wlctest::write_text(ap_path("/etc/wlc/mqtt_ca.crt"), wlctest::read_text(pki_.server_cert));
	start_ap({"-a", "-h", "<?xml version=\"1.0\"?>:99999"});
	// Nothing to connect to: the search goes on, as without any address.
	ASSERT_TRUE(pump([&] { return ap_logged("mast.notice: DISCOVER: retry"); }, 20s)) << ap_log();
	EXPECT_FALSE(ap_logged("DISCOVER: connecting to")) << ap_log();
	EXPECT_FALSE(ap_status().empty());
	EXPECT_TRUE(ap_mast_->running());
}

} // namespace
