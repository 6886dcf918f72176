// radio and wireless_clients on a simulated AP with two radios and stations.
#include "vigil_fixture.h"

namespace vigiltest {
namespace {

// Radio 0 (2.4 GHz) carries corp and guest, radio 1 (5 GHz) corp; the LAN
// MAC has a zero second byte, as many vendors' addresses do.
const char *kDevice = R"("lan_mac": "00:00:22:a3:b4:c5", "radios": [
	{"band": 2, "channel": 6, "width": 20, "txpower": 18, "ssids": ["corp", "guest", "iot"]},
	{"band": 5, "channel": 36, "width": 80, "txpower": 23, "ssids": ["corp"]}])";

class Radio : public VigilTest {
protected:
	void SetUp() override
	{
		VigilTest::SetUp();
		start_site(kDevice);
		ASSERT_EQ(site_->command("sta add ap1 ra1 aa:bb:cc:dd:ee:01 -52"), "ok");
		ASSERT_EQ(site_->command("sta add ap1 rai0 aa:bb:cc:dd:ee:02 -98"), "ok");
		ASSERT_EQ(site_->command("sta add ap1 ra2 aa:bb:cc:dd:ee:03 -60"), "ok");
	}
};

TEST_F(Radio, RadiosWithTheirMappedWlansInIndexOrder)
{
	// ra2 is not a WLAN of ours: never listed, though its station is there.
	start_vigil({"-i", "ra1:2:guest", "-i", "ra0:1:corp", "-i", "rai0:1:corp"});
	std::string r;
	ASSERT_EQ(call("radio", "{}", &r), 0) << log_text();
	std::string r0 = field(r, "0");
	// The base MAC (factory item wlan1) is radio 1's; radio 0 adds 2^32 - 1.
	EXPECT_EQ(r0.substr(0, r0.find(",\"wlans\"")),
		  "{\"up\":true,\"band\":2,\"mac\":\"02:01:22:a3:c4:c4\",\"channel\":6,\"power\":18,\"bw\":20");
	// The BSSID's second byte is zero: it is still reported.
	EXPECT_NE(r0.find("\"wlans\":[{\"up\":true,\"index\":1,\"wlan\":\"corp\",\"bssid\":\"02:00:22:a3:c4:c5\","
			  "\"ssid\":\"corp\",\"vlan\":5,"), std::string::npos) << r0;
	EXPECT_LT(r0.find("\"wlan\":\"corp\""), r0.find("\"wlan\":\"guest\""));
	EXPECT_EQ(r0.find("aa:bb:cc:dd:ee:03"), std::string::npos) << r0;
	EXPECT_NE(r0.find("\"clients\":[{\"mac\":\"aa:bb:cc:dd:ee:01\",\"rssi\":[-52,-53,-54],\"rate\":"), std::string::npos)
		<< r0;
	std::string r1 = field(r, "1");
	EXPECT_NE(r1.find("{\"up\":true,\"band\":5,\"mac\":\"02:00:22:a3:c4:c5\",\"channel\":36,\"power\":23,\"bw\":80"),
		  std::string::npos) << r1;
	// Chain values below -99 are left out.
	EXPECT_NE(r1.find("{\"mac\":\"aa:bb:cc:dd:ee:02\",\"rssi\":[-98,-99],"), std::string::npos) << r1;
}

TEST_F(Radio, ARadioWithAllInterfacesDownShowsOnlyBandAndMac)
{
	ASSERT_EQ(site_->command("link ap1 rai0 down"), "ok");
	start_vigil({"-i", "rai0:1:corp"});
	std::string r;
	ASSERT_EQ(call("radio", "{}", &r), 0);
	EXPECT_EQ(field(r, "1"), "{\"up\":false,\"band\":5,\"mac\":\"02:00:22:a3:c4:c5\"}");
	EXPECT_NE(field(r, "0").find("\"up\":true"), std::string::npos);
}

TEST_F(Radio, WirelessClientsOfEveryInterface)
{
	start_vigil();
	std::string r;
	ASSERT_EQ(call("wireless_clients", "{}", &r), 0);
	EXPECT_NE(r.find("{\"bssid\":\"02:00:22:a3:c4:c6\",\"mac\":\"aa:bb:cc:dd:ee:01\",\"rssi\":[-52,-53,-54],"),
		  std::string::npos) << r;
	EXPECT_NE(r.find("{\"bssid\":\"02:00:22:a3:c4:c7\",\"mac\":\"aa:bb:cc:dd:ee:03\","), std::string::npos) << r;
	EXPECT_NE(r.find("{\"bssid\":\"02:00:22:a3:d4:c5\",\"mac\":\"aa:bb:cc:dd:ee:02\","), std::string::npos) << r;
	EXPECT_NE(r.find("\"hostname\":\"sta-ee:01\",\"stats\":{\"uplink\":{\"pkts\":"), std::string::npos) << r;
	ASSERT_EQ(site_->command("sta del ap1 ra1 aa:bb:cc:dd:ee:01"), "ok");
	ASSERT_EQ(call("wireless_clients", "{}", &r), 0);
	EXPECT_EQ(r.find("aa:bb:cc:dd:ee:01"), std::string::npos) << r;
}

} // namespace
} // namespace vigiltest
