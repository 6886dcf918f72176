// ip_route and arp against the kernel's own tables, in a network namespace
// of the test's own with real bridges named as on the device.
#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "vigil_fixture.h"

namespace vigiltest {
namespace {

class Kernel : public VigilTest {
protected:
	void SetUp() override
	{
		VigilTest::SetUp();
		if (!wlctest::enter_private_netns())
			GTEST_SKIP() << "no network namespaces here";
		start_site();
	}
	void ip(const std::string &args)
	{
		std::vector<std::string> argv = {"/usr/sbin/ip"};
		size_t pos = 0;
		while (pos < args.size()) {
			size_t sp = args.find(' ', pos);
			argv.push_back(args.substr(pos, sp == std::string::npos ? std::string::npos : sp - pos));
			pos = sp == std::string::npos ? args.size() : sp + 1;
		}
		auto r = wlctest::run(argv);
		ASSERT_EQ(r.status, 0) << args << ": " << r.err;
	}
	// br-vlan10 carries VLAN 10 on the simulated device; br-lan carries none.
	void bridges()
	{
		ip("link add br-vlan10 type bridge");
		ip("link set br-vlan10 up");
		ip("addr add 10.10.0.1/16 dev br-vlan10");
		ip("link add br-lan type bridge");
		ip("link set br-lan up");
		ip("addr add 172.16.0.1/24 dev br-lan");
	}
};

TEST_F(Kernel, RoutesOfTheKernel)
{
	bridges();
	ip("route add default via 10.10.0.254 proto static");
	ip("route add 10.20.0.9/32 via 10.10.0.254 proto dhcp metric 7");
	ip("route add 0.0.0.0/1 dev br-lan metric 3");
	start_vigil();
	std::string r;
	ASSERT_EQ(call("ip_route", "{}", &r), 0) << log_text();
	auto has = [&](const std::string &route) { return r.find(route) != std::string::npos; };
	EXPECT_TRUE(has("{\"dst\":{\"ipv4-address\":{\"address\":\"default\"}},\"gw\":{\"ipv4-address\":\"10.10.0.254\"},"
			"\"ifname\":\"vlan10\",\"metric\":0,\"flags\":{\"C\":false,\"D\":false,\"G\":true,\"S\":true}}")) << r;
	EXPECT_TRUE(has("{\"dst\":{\"ipv4-address\":{\"address\":\"10.20.0.9\"}},\"gw\":{\"ipv4-address\":\"10.10.0.254\"},"
			"\"ifname\":\"vlan10\",\"metric\":7,\"flags\":{\"C\":false,\"D\":true,\"G\":true,\"S\":false}}")) << r;
	EXPECT_TRUE(has("{\"dst\":{\"ipv4-address\":{\"address\":\"10.10.0.0\",\"mask\":16}},\"ifname\":\"vlan10\","
			"\"metric\":0,\"flags\":{\"C\":true,\"D\":false,\"G\":false,\"S\":false}}")) << r;
	// A bridge without a VLAN has no "ifname"; a zero destination with a prefix is "0".
	EXPECT_TRUE(has("{\"dst\":{\"ipv4-address\":{\"address\":\"172.16.0.0\",\"mask\":24}},\"metric\":0,"
			"\"flags\":{\"C\":true,\"D\":false,\"G\":false,\"S\":false}}")) << r;
	EXPECT_TRUE(has("{\"dst\":{\"ipv4-address\":{\"address\":\"0\",\"mask\":1}},\"metric\":3,"
			"\"flags\":{\"C\":true,\"D\":false,\"G\":false,\"S\":false}}")) << r;
	// Local and broadcast routes are not unicast routes.
	EXPECT_FALSE(has("127.0.0.1")) << r;
}

TEST_F(Kernel, RouteDumpWorksWhileTheProcessIdIsTaken)
{
	bridges();
	start_vigil();
	// Another socket of the process (the driver events, say) holds the port
	// id equal to the process id.
	int held = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
	ASSERT_GE(held, 0);
	sockaddr_nl addr = {};
	addr.nl_family = AF_NETLINK;
	addr.nl_pid = static_cast<uint32_t>(vigil_->pid());
	ASSERT_EQ(bind(held, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)), 0);
	std::string r;
	EXPECT_EQ(call("ip_route", "{}", &r), 0) << log_text();
	EXPECT_NE(r.find("\"address\":\"10.10.0.0\""), std::string::npos) << r;
	close(held);
}

TEST_F(Kernel, AFailingRouteDumpIsNoData)
{
	if (std::string(WLC_EMULATOR).size())
		GTEST_SKIP() << "a seccomp filter would apply to the emulator";
	bridges();
	// The kernel fails every recvfrom of vigil's: the dump's answer cannot be read.
	vigil_wrapper_ = {std::string(WLC_BUILD_DIR) + "/tests/fail_syscall", "recvfrom", std::to_string(EIO)};
	start_vigil();
	std::string r = "untouched";
	EXPECT_EQ(call("ip_route", "{}", &r), UBUS_STATUS_NO_DATA) << log_text();
	EXPECT_EQ(r, "");
	EXPECT_NE(log_text().find("vigil.err: Failed to recive routes\n"), std::string::npos) << log_text();
	// The service goes on.
	EXPECT_EQ(call("dhcp_leases"), 0);
}

TEST_F(Kernel, NeighboursOfTheKernel)
{
	bridges();
	ip("neigh add 10.10.0.7 lladdr 00:0a:0b:0c:0d:07 dev br-vlan10 nud permanent");
	ip("neigh add 10.10.0.8 lladdr 00:0a:0b:0c:0d:08 dev br-vlan10 nud reachable");
	ip("neigh add 172.16.0.8 lladdr 00:0a:0b:0c:0d:18 dev br-lan nud permanent");
	// The device's neighbour table is the kernel's of this namespace.
	std::filesystem::remove(dev("/proc/net/arp"));
	std::filesystem::create_symlink("/proc/self/net/arp", dev("/proc/net/arp"));
	start_vigil();
	std::string r;
	ASSERT_EQ(call("arp", "{}", &r), 0) << log_text();
	EXPECT_NE(r.find("{\"ip\":\"10.10.0.7\",\"mac\":\"00:0a:0b:0c:0d:07\",\"ifname\":\"vlan10\","
			 "\"flags\":{\"completed\":true,\"static\":true}}"), std::string::npos) << r;
	EXPECT_NE(r.find("{\"ip\":\"10.10.0.8\",\"mac\":\"00:0a:0b:0c:0d:08\",\"ifname\":\"vlan10\","
			 "\"flags\":{\"completed\":true,\"static\":false}}"), std::string::npos) << r;
	EXPECT_EQ(r.find("172.16.0.8"), std::string::npos) << r;
}

} // namespace
} // namespace vigiltest
