// The NTP check against real peers in a network and mount namespace of the
// test's own: chronyd (synchronised and not), dnsmasq for names, a silent
// address, a DNS server that never answers, and a scripted SNTP server for
// the replies no well-behaved server sends.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <thread>

#include "ntp_packet.h"
#include "vigil_fixture.h"

namespace vigiltest {
namespace {

int64_t realtime_ns()
{
	timespec ts;
	clock_gettime(CLOCK_REALTIME, &ts);
	return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// One SNTP exchange; true when an answer came back within limit_ms.
bool sntp_answers(const char *addr, int limit_ms)
{
	int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
	sockaddr_in a = {};
	a.sin_family = AF_INET;
	a.sin_port = htons(123);
	inet_pton(AF_INET, addr, &a.sin_addr);
	auto req = vigil::ntp::request(realtime_ns());
	sendto(fd, req.data(), req.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof(a));
	pollfd p = {fd, POLLIN, 0};
	bool ok = poll(&p, 1, limit_ms) == 1;
	close(fd);
	return ok;
}

// A scripted SNTP server: answers each request as the current mode says.
class FakeServer {
public:
	enum class Mode { Offset, WrongOrigin, KissOfDeath, NoTransmit, Short, WithDigest };

	explicit FakeServer(const char *addr)
	{
		fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
		sockaddr_in a = {};
		a.sin_family = AF_INET;
		a.sin_port = htons(123);
		inet_pton(AF_INET, addr, &a.sin_addr);
		ok_ = bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof(a)) == 0;
		thread_ = std::thread([this] { serve(); });
	}
	~FakeServer()
	{
		stop_ = true;
		thread_.join();
		close(fd_);
	}
	bool ok() const { return ok_; }
	void set(Mode m, int64_t offset_ns = 0)
	{
		mode_ = m;
		offset_ = offset_ns;
	}

private:
	void serve()
	{
		while (!stop_) {
			pollfd p = {fd_, POLLIN, 0};
			if (poll(&p, 1, 50) != 1)
				continue;
			vigil::ntp::Packet req;
			sockaddr_in from = {};
			socklen_t len = sizeof(from);
			if (recvfrom(fd_, req.data(), req.size(), 0, reinterpret_cast<sockaddr *>(&from), &len) != 48)
				continue;
			// Room for a key id and a 16-byte digest after the header.
			std::array<uint8_t, 68> r = {};
			r[0] = 0x24; // leap 0, version 4, server
			r[1] = mode_ == Mode::KissOfDeath ? 0 : 2;
			std::memcpy(&r[vigil::ntp::kOriginate], &req[vigil::ntp::kTransmit], 8);
			if (mode_ == Mode::WrongOrigin)
				r[vigil::ntp::kOriginate + 7] ^= 0x5a;
			int64_t t = realtime_ns() + offset_;
			vigil::ntp::put_timestamp(&r[vigil::ntp::kReceive], t);
			if (mode_ != Mode::NoTransmit)
				vigil::ntp::put_timestamp(&r[vigil::ntp::kTransmit], t);
			size_t n = mode_ == Mode::Short ? 47 : 48;
			if (mode_ == Mode::WithDigest) {
				std::memset(&r[48], 0xa5, 20);
				n = 68;
			}
			sendto(fd_, r.data(), n, 0, reinterpret_cast<sockaddr *>(&from), len);
		}
	}

	int fd_ = -1;
	bool ok_ = false;
	std::atomic<bool> stop_{false};
	std::atomic<Mode> mode_{Mode::Offset};
	std::atomic<int64_t> offset_{0};
	std::thread thread_;
};

class Ntp : public VigilTest {
protected:
	void SetUp() override
	{
		VigilTest::SetUp();
		if (geteuid() != 0 || !wlctest::enter_private_netns())
			GTEST_SKIP() << "needs root and network namespaces";
		// The resolver configuration of this test only: a private mount of resolv.conf.
		ASSERT_EQ(unshare(CLONE_NEWNS), 0);
		ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
		std::string resolv = root_->path() + "/resolv.conf";
		wlctest::write_text(resolv, "nameserver 127.0.0.1\noptions timeout:5 attempts:1\n");
		ASSERT_EQ(mount(resolv.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr), 0) << std::strerror(errno);
		for (const char *cmd : {"link add ntp0 type bridge", "addr add 10.9.0.1/24 dev ntp0",
					"addr add 10.9.0.3/24 dev ntp0", "addr add 10.9.0.4/24 dev ntp0",
					"link set ntp0 up"}) {
			std::vector<std::string> argv = {"/usr/sbin/ip"};
			for (const char *p = cmd; *p;) {
				const char *sp = std::strchr(p, ' ');
				argv.emplace_back(p, sp ? sp : p + std::strlen(p));
				p = sp ? sp + 1 : p + std::strlen(p);
			}
			ASSERT_EQ(wlctest::run(argv).status, 0) << cmd;
		}
		start_site();
	}
	void TearDown() override
	{
		fake_.reset();
		for (auto &p : peers_)
			p.reset();
		VigilTest::TearDown();
	}
	// chronyd serving on addr, synchronised to its own clock or not at all.
	void chronyd(const std::string &addr, bool synchronised)
	{
		std::string dir = root_->path() + "/chrony-" + addr;
		std::string conf = dir + "/chrony.conf";
		wlctest::write_text(conf, "bindaddress " + addr + "\nport 123\ncmdport 0\nallow all\npidfile " + dir +
						  "/pid\n" + (synchronised ? "local stratum 8\n" : ""));
		peers_.push_back(std::make_unique<wlctest::Process>(
			std::vector<std::string>{"/usr/sbin/chronyd", "-d", "-x", "-u", "root", "-f", conf}));
		ASSERT_TRUE(wlctest::wait_until([&] { return sntp_answers(addr.c_str(), 200); }, 20s)) << addr;
	}
	void dnsmasq()
	{
		peers_.push_back(std::make_unique<wlctest::Process>(std::vector<std::string>{
			"/usr/sbin/dnsmasq", "-k", "--no-resolv", "--no-hosts", "--listen-address=127.0.0.1",
			"--bind-interfaces", "--user=root", "--pid-file=" + root_->path() + "/dnsmasq.pid",
			"--address=/ntp.test/10.9.0.1", "--server=/slow.test/10.9.0.2"}));
		ASSERT_TRUE(wlctest::wait_until([] {
			addrinfo hints = {}, *res = nullptr;
			hints.ai_family = AF_INET;
			bool ok = getaddrinfo("ntp.test", nullptr, &hints, &res) == 0;
			if (res)
				freeaddrinfo(res);
			return ok;
		}, 20s));
	}
	void servers(const std::vector<std::string> &list)
	{
		std::string text = "config timeserver 'ntp'\n";
		for (const std::string &s : list)
			text += "\tlist server '" + s + "'\n";
		wlctest::write_text(dev("/etc/config/system"), text);
	}
	std::string server(const std::string &reply, const std::string &name) { return field(field(reply, "servers"), name); }

	std::vector<std::unique_ptr<wlctest::Process>> peers_;
	std::unique_ptr<FakeServer> fake_;
};

TEST_F(Ntp, SynchronisedServerByAddressAndByName)
{
	chronyd("10.9.0.1", true);
	dnsmasq();
	servers({"10.9.0.1", "ntp.test"});
	start_vigil();
	std::string r;
	int64_t before = realtime_ns();
	ASSERT_EQ(call("ntp", "{}", &r), 0) << log_text();
	for (const char *name : {"10.9.0.1", "ntp.test"}) {
		std::string s = server(r, name);
		EXPECT_EQ(field(s, "valid"), "true") << r;
		// The server's clock is this machine's: well under a second apart, a tiny delay.
		EXPECT_EQ(field(field(s, "offset"), "s"), "0") << s;
		EXPECT_LT(std::abs(std::stoll(field(s, "offset_ns"))), 100000000) << s;
		EXPECT_GE(std::stoll(field(s, "delay")), 0) << s;
		EXPECT_LT(std::stoll(field(s, "delay")), 500000000) << s;
	}
	EXPECT_GE(std::stoll(field(r, "time")), before);
	EXPECT_NE(log_text().find("vigil.info: [ntp] DNS lookup completed: 1/1 hosts completed\n"), std::string::npos);
	EXPECT_NE(log_text().find("vigil.info: [ntp] receive loop finished: all data collected\n"), std::string::npos);
}

TEST_F(Ntp, UnsynchronisedSilentAndUnresolvedServersAreNotValid)
{
	chronyd("10.9.0.1", true);
	chronyd("10.9.0.4", false);
	dnsmasq();
	servers({"10.9.0.4", "10.9.0.2", "slow.test", "nowhere.invalid", "10.9.0.1"});
	start_vigil();
	std::string r;
	// Twice: lookups left running by the first call must not hurt the second.
	for (int round = 0; round < 2; round++) {
		ASSERT_EQ(call("ntp", "{}", &r), 0) << log_text();
		EXPECT_EQ(server(r, "10.9.0.4"), "{\"valid\":false}") << r;
		EXPECT_EQ(server(r, "10.9.0.2"), "{\"valid\":false}");
		EXPECT_EQ(server(r, "slow.test"), "{\"valid\":false}");
		EXPECT_EQ(server(r, "nowhere.invalid"), "{\"valid\":false}");
		EXPECT_EQ(field(server(r, "10.9.0.1"), "valid"), "true");
	}
	EXPECT_NE(log_text().find("vigil.info: [ntp] DNS lookup timed out: only 1/2 hosts resolved\n"), std::string::npos)
		<< log_text();
	EXPECT_NE(log_text().find("vigil.info: [ntp] receive loop timeout: 1 requests still pending\n"), std::string::npos);
	EXPECT_EQ(call("health"), 0);
}

TEST_F(Ntp, NoServersAndNoConfiguration)
{
	servers({});
	start_vigil();
	std::string r;
	ASSERT_EQ(call("ntp", "{}", &r), 0);
	EXPECT_EQ(field(r, "servers"), "{}");
	EXPECT_NE(field(r, "time"), "<absent>");
	std::remove(dev("/etc/config/system").c_str());
	EXPECT_EQ(call("ntp", "{}", &r), UBUS_STATUS_NO_DATA);
	EXPECT_NE(log_text().find("vigil.info: no ntp servers\n"), std::string::npos);
}

class ScriptedNtp : public Ntp {
protected:
	void SetUp() override
	{
		Ntp::SetUp();
		if (IsSkipped())
			return;
		fake_ = std::make_unique<FakeServer>("10.9.0.3");
		ASSERT_TRUE(fake_->ok());
		servers({"10.9.0.3", "10.9.0.3"});
		start_vigil();
	}
};

TEST_F(ScriptedNtp, OffsetsKeepTheirSign)
{
	std::string r;
	fake_->set(FakeServer::Mode::Offset, -500000000);
	ASSERT_EQ(call("ntp", "{}", &r), 0);
	// The same server twice: two tables of the same name.
	size_t first = r.find("\"10.9.0.3\":"), second = r.find("\"10.9.0.3\":", first + 1);
	EXPECT_NE(second, std::string::npos) << r;
	std::string s = server(r, "10.9.0.3");
	EXPECT_EQ(field(field(s, "offset"), "s"), "0") << s;
	int64_t ns = std::stoll(field(field(s, "offset"), "ns"));
	EXPECT_GT(ns, 450000000);
	EXPECT_LT(ns, 550000000);
	int64_t signed_ns = std::stoll(field(s, "offset_ns"));
	EXPECT_LT(signed_ns, -450000000);
	EXPECT_GT(signed_ns, -550000000);

	fake_->set(FakeServer::Mode::Offset, -1500000000);
	ASSERT_EQ(call("ntp", "{}", &r), 0);
	s = server(r, "10.9.0.3");
	EXPECT_EQ(field(field(s, "offset"), "s"), "-1") << s;
	ns = std::stoll(field(field(s, "offset"), "ns"));
	EXPECT_GT(ns, 450000000);
	EXPECT_LT(ns, 550000000);
}

TEST_F(ScriptedNtp, UnusableRepliesAreNotValid)
{
	std::string r;
	for (auto mode : {FakeServer::Mode::WrongOrigin, FakeServer::Mode::KissOfDeath, FakeServer::Mode::NoTransmit}) {
		fake_->set(mode);
		ASSERT_EQ(call("ntp", "{}", &r), 0);
		EXPECT_EQ(server(r, "10.9.0.3"), "{\"valid\":false}") << static_cast<int>(mode) << " " << r;
	}
	EXPECT_NE(log_text().find("vigil.info: [ntp] receive loop timeout: 2 requests still pending\n"), std::string::npos);
	// A datagram of another length ends the wait at once.
	fake_->set(FakeServer::Mode::Short);
	ASSERT_EQ(call("ntp", "{}", &r), 0);
	EXPECT_EQ(server(r, "10.9.0.3"), "{\"valid\":false}");
	EXPECT_NE(log_text().rfind("vigil.info: [ntp] receive loop finished: all data collected\n"), std::string::npos);
}

TEST_F(ScriptedNtp, RepliesLongerThanTheHeaderAreRead)
{
	// A server that appends a key id and digest: each reply is 68 bytes,
	// the first 48 of which answer the request.
	fake_->set(FakeServer::Mode::WithDigest, 250000000);
	std::string r;
	ASSERT_EQ(call("ntp", "{}", &r), 0);
	size_t valid = 0;
	for (size_t at = r.find("\"valid\":true"); at != std::string::npos; at = r.find("\"valid\":true", at + 1))
		valid++;
	EXPECT_EQ(valid, 2u) << r;
	std::string s = server(r, "10.9.0.3");
	EXPECT_EQ(field(field(s, "offset"), "s"), "0") << s;
	EXPECT_NE(log_text().rfind("vigil.info: [ntp] receive loop finished: all data collected\n"), std::string::npos);
}

} // namespace
} // namespace vigiltest
