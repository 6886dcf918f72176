// The page and the gateway as the web server serves them: Debian's lighttpd
// with the configuration siteview_serve writes, in this test's own network
// namespace.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "broker.h"
#include "gateway_fixture.h"
#include "web_config.h"

namespace siteviewtest {
namespace {

constexpr int kPort = 8080;

// One HTTP/1.0 exchange; the whole answer, headers included.
std::string http(const std::string &request)
{
	int fd = wlctest::connect_loopback(kPort);
	if (fd < 0)
		return "";
	std::string out;
	if (write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
		char buf[4096];
		ssize_t n;
		while ((n = read(fd, buf, sizeof(buf))) > 0)
			out.append(buf, static_cast<size_t>(n));
	}
	close(fd);
	return out;
}

std::string post(const std::string &body)
{
	return http("POST /ubus HTTP/1.0\r\nContent-Type: application/json\r\nContent-Length: " +
		    std::to_string(body.size()) + "\r\n\r\n" + body);
}

std::string body_of(const std::string &answer)
{
	size_t at = answer.find("\r\n\r\n");
	return at == std::string::npos ? "" : answer.substr(at + 4);
}

TEST(SiteviewWebConfig, RunsOnlyTheGatewayAndQuotesEveryPath)
{
	siteview::WebSettings w;
	w.www = "/srv/www\"\n$HTTP[\"url\"] =~ \"\" { cgi.assign = (\"\" => \"\") }";
	w.gateway = "/opt/gw";
	w.bus_socket = "/run/a\\b.sock";
	std::string c = siteview::lighttpd_config(w);
	// The quote in the path stays inside its string: one condition, the gateway's.
	EXPECT_NE(c.find(R"(server.document-root = "/srv/www\")"), std::string::npos) << c;
	EXPECT_EQ(c.find("\n$HTTP[\"url\"] =~"), std::string::npos) << c;
	EXPECT_NE(c.find(R"(alias.url = ("/ubus" => "/opt/gw"))"), std::string::npos) << c;
	EXPECT_NE(c.find(R"("SITEVIEW_UBUS_SOCKET" => "/run/a\\b.sock")"), std::string::npos) << c;
	EXPECT_NE(c.find(R"(server.bind = "127.0.0.1")"), std::string::npos) << c;
	EXPECT_EQ(c.find("$SERVER"), std::string::npos) << c;
	w.unix_socket = "/run/web.sock";
	w.interpreter = "/usr/bin/qemu-aarch64";
	c = siteview::lighttpd_config(w);
	EXPECT_NE(c.find(R"($SERVER["socket"] == "/run/web.sock" { })"), std::string::npos) << c;
	EXPECT_NE(c.find(R"(cgi.assign = ("" => "/usr/bin/qemu-aarch64"))"), std::string::npos) << c;
}

class ServedTest : public GatewayTest {
protected:
	void SetUp() override
	{
		if (!wlctest::enter_private_netns())
			GTEST_SKIP() << "no network namespace of its own";
		GatewayTest::SetUp();
		if (HasFatalFailure())
			return;
		std::string dir = root_->path() + "/web";
		wlctest::write_text(dir + "/.keep", "");
		web_ = std::make_unique<wlctest::Process>(std::vector<std::string>{
			std::string(WLC_BUILD_DIR) + "/siteview/siteview_serve", "-w",
			std::string(WLC_SOURCE_DIR) + "/siteview/www", "-g",
			std::string(WLC_BUILD_DIR) + "/siteview/siteview_gateway", "-d", dir, "-p", std::to_string(kPort),
			"-s", bus_->socket(), "-i", WLC_EMULATOR});
		ASSERT_TRUE(wlctest::wait_until(
			[] {
				int fd = wlctest::connect_loopback(kPort);
				if (fd >= 0)
					close(fd);
				return fd >= 0;
			},
			wlctest::kStartLimit))
			<< wlctest::read_text(dir + "/lighttpd.log");
	}
	void TearDown() override
	{
		web_.reset();
		GatewayTest::TearDown();
	}

	std::unique_ptr<wlctest::Process> web_;
};

TEST_F(ServedTest, PageAndGatewayOverHttp)
{
	std::string page = http("GET / HTTP/1.0\r\n\r\n");
	EXPECT_NE(page.find("200 OK"), std::string::npos) << page.substr(0, 300);
	EXPECT_NE(page.find("text/html"), std::string::npos) << page.substr(0, 300);
	EXPECT_NE(page.find("<title>Site view</title>"), std::string::npos);

	std::string refused = post(R"({"jsonrpc":"2.0","id":1,"method":"call","params":[")" + std::string(kNullSession) +
				   R"(","fleet","list",{}]})");
	EXPECT_NE(refused.find("application/json"), std::string::npos) << refused;
	EXPECT_EQ(error_code(body_of(refused)), -32002) << refused;

	std::string logged_in = post(R"({"jsonrpc":"2.0","id":2,"method":"call","params":[")" + std::string(kNullSession) +
				     R"(","session","login",{"username":"viewer","password":")" + kViewerPassword + "\"}]}");
	Json a = parse(body_of(logged_in));
	json_object *sid = at(a.get(), {"result", "1", "ubus_rpc_session"});
	ASSERT_TRUE(sid) << logged_in;
	std::string listed = post(R"({"jsonrpc":"2.0","id":3,"method":"call","params":[")" +
				  std::string(json_object_get_string(sid)) + R"(","fleet","list",{}]})");
	EXPECT_EQ(status_of(body_of(listed)), 0) << listed;

	// Not JSON, and not a POST: parse errors, no call made.
	EXPECT_EQ(error_code(body_of(post("{"))), -32700);
	EXPECT_EQ(error_code(body_of(http("GET /ubus HTTP/1.0\r\n\r\n"))), -32700);
	// Only the page's own files are served; the gateway is not a download.
	EXPECT_EQ(http("GET /../../etc/passwd HTTP/1.0\r\n\r\n").find("root:"), std::string::npos);
}

} // namespace
} // namespace siteviewtest
