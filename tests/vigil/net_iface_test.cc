// vlan, dns, switchport and dhcp_leases on a simulated AP with the
// platform's interface objects.
#include <json-c/json.h>

#include <cstdio>
#include <fstream>

#include "vigil_fixture.h"

namespace vigiltest {
namespace {

class NetIface : public VigilTest {
protected:
	void SetUp() override
	{
		VigilTest::SetUp();
		start_site();
		start_network();
		start_vigil();
	}
	int index_of(const std::string &ifname) { return std::stoi(wlctest::read_text(dev("/sys/class/net/" + ifname + "/ifindex"))); }
	// Changes one interface's status as the platform would report it.
	void set_status(const std::string &name, const std::string &key, json_object *value)
	{
		std::string file = dev("/var/lib/sim/network.json");
		json_object *all = json_object_from_file(file.c_str());
		json_object *member = nullptr;
		ASSERT_TRUE(json_object_object_get_ex(all, name.c_str(), &member));
		json_object_object_add(member, key.c_str(), value);
		json_object_to_file(file.c_str(), all);
		json_object_put(all);
	}
};

std::string expected_statistics(int i)
{
	auto n = [i](int k) { return std::to_string(i * 1000 + k); };
	return "{\"rx\":{\"bytes\":" + n(1) + ",\"packets\":" + n(2) + ",\"errs\":" + n(3) + ",\"drop\":" + n(4) +
	       ",\"fifo\":" + n(5) + ",\"frame\":" + n(6) + ",\"compressed\":" + n(7) + ",\"multicast\":" + n(8) +
	       ",\"length\":" + n(14) + ",\"crc\":" + n(11) + ",\"overrun\":" + n(12) + ",\"missed\":" + n(13) +
	       "},\"tx\":{\"bytes\":" + n(101) + ",\"packets\":" + n(102) + ",\"errs\":" + n(103) + ",\"drop\":" + n(104) +
	       ",\"fifo\":" + n(105) + ",\"colls\":" + n(106) + ",\"carrier\":" + n(107) + ",\"compressed\":" + n(108) +
	       ",\"aborted\":" + n(21) + ",\"heartbeat\":" + n(22) + ",\"window\":" + n(23) + "}}";
}

TEST_F(NetIface, LogicalInterfacesWithStateAddressesAndCounters)
{
	std::string r;
	ASSERT_EQ(call("vlan", "{}", &r), 0) << log_text();
	EXPECT_EQ(field(r, "loopback"), "<absent>");
	// "con" is reported by the VLAN its bridge carries.
	int con = index_of("br-con");
	EXPECT_EQ(field(r, "vlan5"),
		  "{\"up\":true,\"proto\":\"dhcp\",\"metric\":0,\"device\":\"br-con\",\"l3_device\":\"br-con\","
		  "\"ipv4-address\":[{\"address\":\"192.168.1.10\",\"mask\":24}],\"control\":true,"
		  "\"mac\":\"00:11:22:a3:b4:c5\",\"mtu\":1500,\"index\":" + std::to_string(con) +
			  ",\"statistics\":" + expected_statistics(con) + "}");
	int v10 = index_of("br-vlan10");
	EXPECT_NE(field(r, "vlan10").find("\"control\":false,\"mac\":\"00:11:22:a3:b4:c5\",\"mtu\":1500,\"index\":" +
					  std::to_string(v10) + ",\"statistics\":" + expected_statistics(v10)),
		  std::string::npos) << r;
	// Down interfaces: the (empty) status list, then their configured address.
	EXPECT_NE(r.find("\"vlan30\":{\"up\":false,\"proto\":\"static\",\"metric\":0,\"ipv4-address\":[],"
			 "\"control\":false,\"ipv4-address\":[{\"mask\":24,\"address\":\"10.30.0.1\"}]}"),
		  std::string::npos) << r;
	EXPECT_NE(r.find("\"guest\":{\"up\":false,\"proto\":\"none\",\"metric\":0,\"ipv4-address\":[],"
			 "\"control\":false,\"ipv4-address\":[{}]}"), std::string::npos) << r;
}

TEST_F(NetIface, DownControlInterfaceReadsItsVlanSection)
{
	set_status("con", "up", json_object_new_boolean(false));
	std::string r;
	ASSERT_EQ(call("vlan", "{}", &r), 0);
	std::string v5 = r.substr(r.find("\"vlan5\""));
	v5 = v5.substr(0, v5.find("},\"vlan10\""));
	EXPECT_NE(v5.find("\"control\":true,\"ipv4-address\":[{\"mask\":24,\"address\":\"192.168.1.10\"}]"),
		  std::string::npos) << v5;
	EXPECT_EQ(v5.find("statistics"), std::string::npos);
}

TEST_F(NetIface, DownInterfaceWithAnAddressButNoNetmaskHasAnEmptyAddressTable)
{
	std::string file = dev("/etc/config/network");
	std::string config = wlctest::read_text(file);
	const std::string guest = "config interface 'guest'\n\toption proto 'none'\n";
	size_t at = config.find(guest);
	ASSERT_NE(at, std::string::npos) << config;
	config.insert(at + guest.size(), "\toption ipaddr '10.40.0.1'\n");
	wlctest::write_text(file, config);
	std::string r;
	ASSERT_EQ(call("vlan", "{}", &r), 0);
	EXPECT_NE(r.find("\"guest\":{\"up\":false,\"proto\":\"none\",\"metric\":0,\"ipv4-address\":[],"
			 "\"control\":false,\"ipv4-address\":[{}]}"), std::string::npos) << r;
	EXPECT_EQ(r.find("10.40.0.1"), std::string::npos) << r;
}

TEST_F(NetIface, MissingWindowCounterFailsTheWholeCall)
{
	std::remove(dev("/sys/class/net/eth0/statistics/tx_window_errors").c_str());
	std::string r = "untouched";
	EXPECT_EQ(call("vlan", "{}", &r), UBUS_STATUS_UNKNOWN_ERROR);
	EXPECT_EQ(r, "");
	EXPECT_NE(log_text().find("vigil.debug: FAILED to read interfaces ststistics\n"), std::string::npos);
}

TEST_F(NetIface, OverlongInterfaceNameIsAMalformedLine)
{
	std::ofstream(dev("/proc/net/dev"), std::ios::app) << std::string(300, 'x') << ": 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n";
	EXPECT_EQ(call("vlan"), UBUS_STATUS_UNKNOWN_ERROR);
}

TEST_F(NetIface, AnInterfaceWithoutCountersLosesOnlyItsStatistics)
{
	set_status("vlan10", "l3_device", json_object_new_string("br-gone"));
	std::string r;
	ASSERT_EQ(call("vlan", "{}", &r), 0);
	std::string v10 = field(r, "vlan10");
	EXPECT_EQ(v10.find("statistics"), std::string::npos) << v10;
	EXPECT_EQ(v10.find("\"mac\""), std::string::npos) << v10;
	EXPECT_NE(log_text().find("vigil.debug: FAILED to get br-gone statistics\n"), std::string::npos);
	EXPECT_NE(log_text().find("vigil.debug: FAILED to get mac for br-gone\n"), std::string::npos);
	EXPECT_NE(field(r, "vlan5").find("statistics"), std::string::npos);
}

TEST_F(NetIface, DnsServersWithTheirSource)
{
	std::string r;
	ASSERT_EQ(call("dns", "{}", &r), 0);
	// 10.0.0.53 is learnt by DHCP on con first, then found on the loopback device: static.
	EXPECT_EQ(r, "{\"10.0.0.53\":\"static\",\"192.168.1.1\":\"dhcp\",\"9.9.9.9\":\"dhcp\"}");
}

TEST_F(NetIface, SwitchPortsFromTheBoardFile)
{
	std::string r;
	ASSERT_EQ(call("switchport", "{}", &r), 0) << log_text();
	EXPECT_EQ(field(r, "switch0"),
		  "{\"wan\":{\"rx_pkts\":2024,\"rx_byte\":3000000,\"rx_drop\":0,\"tx_pkts\":1010,\"tx_byte\":1500000,"
		  "\"tx_drop\":0,\"link\":true,\"duplex\":true,\"speed\":1000,\"pvid\":5},"
		  "\"lan1\":{\"rx_pkts\":4024,\"rx_byte\":6000000,\"rx_drop\":1,\"tx_pkts\":2010,\"tx_byte\":3000000,"
		  "\"tx_drop\":0,\"link\":true,\"duplex\":true,\"speed\":1000,\"pvid\":1},"
		  "\"lan2\":{\"rx_pkts\":6024,\"rx_byte\":9000000,\"rx_drop\":2,\"tx_pkts\":3010,\"tx_byte\":4500000,"
		  "\"tx_drop\":0,\"link\":true,\"duplex\":true,\"speed\":1000,\"pvid\":1},"
		  "\"lan3\":{\"rx_pkts\":8024,\"rx_byte\":12000000,\"rx_drop\":3,\"tx_pkts\":4010,\"tx_byte\":6000000,"
		  "\"tx_drop\":0,\"link\":true,\"duplex\":true,\"speed\":1000,\"pvid\":1},"
		  "\"lan4\":{\"rx_pkts\":10024,\"rx_byte\":15000000,\"rx_drop\":4,\"tx_pkts\":5010,\"tx_byte\":7500000,"
		  "\"tx_drop\":0,\"link\":false,\"duplex\":false,\"speed\":0,\"pvid\":1}}");
}

TEST_F(NetIface, SwitchPortWithoutCountersIsEmptyAndNoPortsFails)
{
	wlctest::write_text(dev("/etc/boards/zev-ap1.json"),
			    "{\"ports\": {\"switch0\": {\"lan1\": {\"num\": 1}, \"lan9\": {\"num\": 9}, \"cpu\": {}}}}");
	std::string r;
	ASSERT_EQ(call("switchport", "{}", &r), 0);
	EXPECT_EQ(field(field(r, "switch0"), "lan9"), "{}");
	EXPECT_EQ(field(field(r, "switch0"), "cpu"), "<absent>");
	EXPECT_NE(log_text().find("vigil.debug: FAILED to get port9 RxUni\n"), std::string::npos) << log_text();
	wlctest::write_text(dev("/etc/boards/zev-ap1.json"), "{\"radios\": {}}");
	EXPECT_EQ(call("switchport", "{}", &r), UBUS_STATUS_UNKNOWN_ERROR);
	EXPECT_NE(log_text().find("vigil.debug: FAILED to collect ports statistics\n"), std::string::npos);
}

TEST_F(NetIface, LeasesPerVlanIpv4OnesWithFieldsCutToTheirWidths)
{
	// An overlong host name or hardware address is cut to 63 and 17
	// characters; a line whose address is no IPv4 one is not a lease.
	std::ofstream(dev("/var/dnsmasq_vlan10.dhcp.leases"), std::ios::app)
		<< "1765400300 00:0a:0b:0c:0d:07 10.10.0.7 " << std::string(4096, 'h') << " *\n"
		<< "1765400400 00:0a:0b:0c:0d:0777 10.10.0.8 long-mac *\n"
		<< "1765400450 01-00:0a:0b:0c:0d:08 10.10.0.9 hwtype *\n"
		<< "1765400500 00:0a:0b:0c:0d:09 10.10.0.999 bad-ip *\n"
		<< "1765400600 00:0a:0b:0c:0d:10 10.10.0.10 ok-host *\n";
	std::string r;
	ASSERT_EQ(call("dhcp_leases", "{}", &r), 0);
	EXPECT_EQ(field(r, "5"), "[{\"expire\":1765400000,\"mac\":\"00:0a:0b:0c:0d:05\",\"ip\":\"10.5.0.5\",\"hostname\":"
				 "\"laptop-5\"},{\"expire\":1765400100,\"mac\":\"aa:bb:cc:dd:ee:05\",\"ip\":\"10.5.0.6\","
				 "\"hostname\":\"*\"}]");
	EXPECT_EQ(field(r, "10"), "[{\"expire\":1765400000,\"mac\":\"00:0a:0b:0c:0d:05\",\"ip\":\"10.10.0.5\",\"hostname\":"
				  "\"laptop-10\"},{\"expire\":1765400100,\"mac\":\"aa:bb:cc:dd:ee:00\",\"ip\":\"10.10.0.6\","
				  "\"hostname\":\"*\"},{\"expire\":1765400300,\"mac\":\"00:0a:0b:0c:0d:07\",\"ip\":\"10.10.0.7\","
				  "\"hostname\":\"" + std::string(63, 'h') + "\"},{\"expire\":1765400400,\"mac\":\"00:0a:0b:0c:0d:07\","
				  "\"ip\":\"10.10.0.8\",\"hostname\":\"long-mac\"},{\"expire\":1765400450,\"mac\":\"01-00:0a:0b:0c:0d\","
				  "\"ip\":\"10.10.0.9\",\"hostname\":\"hwtype\"},{\"expire\":1765400600,\"mac\":\"00:0a:0b:0c:0d:10\","
				  "\"ip\":\"10.10.0.10\",\"hostname\":\"ok-host\"}]");
	EXPECT_EQ(r.find("decoy"), std::string::npos);
	EXPECT_EQ(r.find("phone-"), std::string::npos) << r;
}

TEST_F(NetIface, NeighboursOnVlanBridgesOnly)
{
	std::string r;
	ASSERT_EQ(call("arp", "{}", &r), 0);
	EXPECT_EQ(r, "{\"entries\":["
		     "{\"ip\":\"192.168.1.1\",\"mac\":\"00:11:22:33:44:01\",\"ifname\":\"vlan5\",\"flags\":{\"completed\":true,\"static\":false}},"
		     "{\"ip\":\"192.168.1.77\",\"mac\":\"00:00:00:00:00:00\",\"ifname\":\"vlan5\",\"flags\":{\"completed\":false,\"static\":false}},"
		     "{\"ip\":\"10.10.0.5\",\"mac\":\"00:0a:0b:0c:0d:05\",\"ifname\":\"vlan10\",\"flags\":{\"completed\":true,\"static\":true}}]}");
}

TEST_F(NetIface, MissingNeighbourTableFails)
{
	std::remove(dev("/proc/net/arp").c_str());
	EXPECT_EQ(call("arp"), UBUS_STATUS_UNKNOWN_ERROR);
	EXPECT_NE(log_text().find("vigil.debug: FAILED No such file or directory\n"), std::string::npos);
}

using NoInterfaces = VigilTest;

TEST_F(NoInterfaces, WithoutInterfaceObjectsVlanAndDnsFail)
{
	start_site();
	start_vigil();
	EXPECT_EQ(call("vlan"), UBUS_STATUS_UNKNOWN_ERROR);
	EXPECT_EQ(call("dns"), UBUS_STATUS_UNKNOWN_ERROR);
	EXPECT_NE(log_text().find("vigil.debug: FAILED to find interfaces\n"), std::string::npos) << log_text();
}

} // namespace
} // namespace vigiltest
