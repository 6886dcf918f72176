// An adopted AP whose way to the broker is cut: a short outage keeps the
// agent (all subscriptions renewed on return), a long one sends the AP
// searching again; the broker shows it offline through its will meanwhile.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "ap_fixture.h"

namespace masttest {
namespace {

using Clock = std::chrono::steady_clock;

// Relays TCP connections from a port of its own to the broker's TLS port.
// cut() closes every relayed connection and closes new ones at once until
// restore().
class Relay {
public:
	Relay(int target) : target_(target), listener_(tcp(0, true))
	{
		sockaddr_in a = {};
		socklen_t len = sizeof(a);
		getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &len);
		port_ = ntohs(a.sin_port);
		thread_ = std::thread([this] { run(); });
	}
	~Relay()
	{
		stop_ = true;
		thread_.join();
		close(listener_);
	}
	int port() const { return port_; }
	void cut() { cut_ = true; }
	void restore() { cut_ = false; }

private:
	static int tcp(int port, bool listen_on)
	{
		int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
		int one = 1;
		setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
		sockaddr_in a = {};
		a.sin_family = AF_INET;
		a.sin_port = htons(static_cast<uint16_t>(port));
		a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
		bool ok = listen_on ? bind(s, reinterpret_cast<sockaddr *>(&a), sizeof(a)) == 0 && listen(s, 8) == 0
				    : connect(s, reinterpret_cast<sockaddr *>(&a), sizeof(a)) == 0;
		if (!ok) {
			close(s);
			return -1;
		}
		return s;
	}
	void close_all()
	{
		for (auto &[a, b] : pairs_) {
			close(a);
			close(b);
		}
		pairs_.clear();
	}
	void run()
	{
		while (!stop_) {
			if (cut_)
				close_all();
			std::vector<pollfd> fds = {{listener_, POLLIN, 0}};
			for (auto &[a, b] : pairs_) {
				fds.push_back({a, POLLIN, 0});
				fds.push_back({b, POLLIN, 0});
			}
			if (poll(fds.data(), fds.size(), 20) <= 0)
				continue;
			if (fds[0].revents & POLLIN) {
				int in = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
				int out = in >= 0 && !cut_ ? tcp(target_, false) : -1;
				if (out >= 0)
					pairs_.emplace_back(in, out);
				else if (in >= 0)
					close(in);
			}
			// Only the pairs that were polled: one accepted just now waits for the next turn.
			size_t polled = (fds.size() - 1) / 2;
			for (size_t i = 0; i < polled && i < pairs_.size(); i++) {
				auto [a, b] = pairs_[i];
				bool ok = forward(fds[1 + 2 * i], a, b) && forward(fds[2 + 2 * i], b, a);
				if (!ok) {
					close(a);
					close(b);
					pairs_.erase(pairs_.begin() + static_cast<long>(i));
					break;
				}
			}
		}
		close_all();
	}
	static bool forward(const pollfd &p, int from, int to)
	{
		if (!(p.revents & (POLLIN | POLLHUP | POLLERR)))
			return true;
		char buf[16384];
		ssize_t n = read(from, buf, sizeof(buf));
		return n > 0 && write(to, buf, static_cast<size_t>(n)) == n;
	}

	int target_;
	int listener_;
	int port_ = 0;
	std::vector<std::pair<int, int>> pairs_;
	std::atomic<bool> cut_{false}, stop_{false};
	std::thread thread_;
};

class Outage : public ApTest {
protected:
	void adopted_through(Relay &relay, wlctest::MqttClient &services)
	{
		ASSERT_TRUE(services.subscribe("zev/wlc/control/ap/+/join_request"));
		start_ap({"-h", "127.0.0.1:" + std::to_string(relay.port())});
		answer_join(services);
		ASSERT_TRUE(services.publish("zev/wlc/firmware/version", payload(R"({"revision":"r42-abc"})"), 2, true));
		ASSERT_TRUE(pump([&] { return ap_status() == "adopted"; }, 20s)) << ap_log();
		// All of the adopted state's subscriptions are in place (the reconfig
		// topic is the last), so that an outage from here on interrupts them.
		std::string reconfig = "zev/wlc/telemetry/ap/" + ap_id_ + "/request/reconfig";
		ASSERT_TRUE(pump([&] { return broker_->subscriptions(ap_id_, reconfig) == 1; }, 10s));
	}
	bool shown(bool online)
	{
		std::string want = std::string("\"online\":") + (online ? "true" : "false");
		return !calls_.empty() && calls_.back().find(want) != std::string::npos;
	}
	size_t count(const std::string &line) const
	{
		std::string log = ap_log();
		size_t n = 0;
		for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1))
			n++;
		return n;
	}
	void pump_until(Clock::time_point t) { pump([&] { return Clock::now() >= t; }, std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()) + 1s); }
};

TEST_F(Outage, FiftySecondsKeepTheAgentAndItsSubscriptions)
{
	Relay relay(8883);
	wlctest::MqttClient services("services", 1883);
	adopted_through(relay, services);
	relay.cut();
	auto cut = Clock::now();
	ASSERT_TRUE(pump([&] { return ap_logged("mast.notice: Disconnected"); }, 15s)) << ap_log();
	ASSERT_TRUE(pump([&] { return shown(false); }, 20s)); // the broker's will
	pump_until(cut + 50s);
	relay.restore();
	ASSERT_TRUE(pump([&] { return count("mast.notice: Connected") == 2; }, 20s)) << ap_log();
	ASSERT_TRUE(pump([&] { return shown(true); }, 10s));
	ASSERT_TRUE(pump([&] { return count("mast.info: Status: ADOPTED") == 2; }, 10s)) << ap_log();
	EXPECT_EQ(ap_log().find("Too long disconnection"), std::string::npos);
	// The renewed subscriptions take commands again: once the broker has put
	// the reboot subscription in place a second time (its log holds the first
	// one too, so the sign is the count).
	std::string reboot = "zev/wlc/control/ap/" + ap_id_ + "/reboot";
	ASSERT_TRUE(pump([&] { return broker_->subscriptions(ap_id_, reboot) == 2; }, 10s));
	ASSERT_TRUE(services.publish(reboot, payload("{}"), 2));
	ASSERT_TRUE(pump([&] { return stubs_log() == "reboot\n"; }, 10s)) << stubs_log();
}

TEST_F(Outage, SeventySecondsStartTheSearchOver)
{
	Relay relay(8883);
	wlctest::MqttClient services("services", 1883);
	adopted_through(relay, services);
	relay.cut();
	ASSERT_TRUE(pump([&] { return ap_logged("mast.notice: Disconnected"); }, 15s)) << ap_log();
	auto lost = Clock::now();
	ASSERT_TRUE(pump([&] { return shown(false); }, 20s));
	ASSERT_TRUE(pump([&] { return ap_logged("mast.info: Too long disconnection, starting over"); }, 75s)) << ap_log();
	EXPECT_GE(Clock::now() - lost, 58s);
	ASSERT_TRUE(pump([&] { return ap_logged("mast.notice: Start adopted agent discovery"); }, 5s)) << ap_log();
	EXPECT_TRUE(shown(false));
	relay.restore();
	// The new search finds the saved controller and the agent comes back.
	ASSERT_TRUE(pump([&] { return ap_status() == "adopted"; }, 40s)) << ap_log();
	EXPECT_TRUE(shown(true));
}

} // namespace
} // namespace masttest
