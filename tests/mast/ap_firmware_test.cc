// Firmware update against a real HTTPS server (openssl s_server answering
// each request with a file that holds the whole HTTP response): the image reaches the upgrade tool unchanged, and every failed
// download leaves no image behind and is tried again.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "ap_fixture.h"

namespace masttest {
namespace {

class Firmware : public ApTest {
protected:
	// Serves the files of <root>/www over HTTPS with this certificate.
	void serve(const std::string &cert, const std::string &key)
	{
		port_ = wlctest::free_port();
		std::string www = root_->at("/www/fw/.keep");
		www = www.substr(0, www.rfind("/fw/"));
		server_ = std::make_unique<wlctest::Process>(std::vector<std::string>{
			"/bin/sh", "-c", "cd " + www + " && exec /usr/bin/openssl s_server -quiet -HTTP -accept 127.0.0.1:" +
						 std::to_string(port_) + " -cert " + cert + " -key " + key});
		ASSERT_TRUE(wlctest::wait_until([&] { return wlctest::port_open(port_); }, 10s));
	}
	// An image of a few hundred kilobytes with every byte value in it.
	std::string make_image()
	{
		std::string image;
		for (uint32_t i = 0; i < 300000; i++)
			image += static_cast<char>((i * 7919u) >> 3);
		wlctest::write_text(root_->at("/www/fw/image.bin"), "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n"
								  "Content-Length: " + std::to_string(image.size()) + "\r\n\r\n" + image);
		return image;
	}
	// Joins with another revision and offers the file on the firmware topic.
	void offer(wlctest::MqttClient &services, const std::string &path)
	{
		adopt(services, "r43");
		ASSERT_TRUE(pump([&] { return ap_status() == "fw_update"; }, 15s)) << ap_log();
		curl_before_offer_ = maps_curl();
		std::string log = ap_log(), mark = "Waiting for FIRMWARE message from topic ";
		size_t at = log.find(mark) + mark.size();
		std::string topic = log.substr(at, log.find("...", at) - at);
		ASSERT_TRUE(services.publish(topic, payload(R"({"path":")" + path + R"(","port":)" + std::to_string(port_) + "}"),
					     2, true));
	}
	size_t count(const std::string &line) const
	{
		std::string log = ap_log();
		size_t n = 0;
		for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1))
			n++;
		return n;
	}
	// The download failed at least twice (tried again) and left no image.
	void expect_failed_and_retried(const std::string &why)
	{
		ASSERT_TRUE(pump([&] { return count("mast.err: Failed to download firmware!") >= 2; }, 40s)) << ap_log();
		EXPECT_NE(ap_log().find(why), std::string::npos) << ap_log();
		struct stat st;
		EXPECT_NE(stat(ap_path("/tmp/ap_fw.bin").c_str(), &st), 0);
		EXPECT_EQ(stubs_log(), "");
	}

	// Whether the AP's mast has libcurl mapped.
	bool maps_curl() const
	{
		return wlctest::read_text("/proc/" + std::to_string(ap_mast_->pid()) + "/maps").find("/libcurl") !=
		       std::string::npos;
	}

	int port_ = 0;
	bool curl_before_offer_ = true;
	std::unique_ptr<wlctest::Process> server_;
};

TEST_F(Firmware, ImageServedWithThePinnedCertificateReachesTheUpgradeToolUnchanged)
{
	std::string image = make_image();
	serve(pki_.server_cert, pki_.server_key); // the broker's own, issued by a CA the AP never saw
	wlctest::MqttClient services("services", 1883);
	offer(services, "fw/image.bin");
	ASSERT_TRUE(pump([&] { return !stubs_log().empty(); }, 20s)) << ap_log();
	EXPECT_EQ(stubs_log(), "sysupgrade " + ap_path("/tmp/ap_fw.bin") + "\n");
	EXPECT_TRUE(wlctest::read_text(ap_path("/sysupgrade.img")) == image);
	EXPECT_NE(ap_log().find("mast.debug: Firmware URL: https://127.0.0.1:" + std::to_string(port_) + "/fw/image.bin"),
		  std::string::npos);
	// libcurl is loaded by the first download, not before.
	EXPECT_FALSE(curl_before_offer_);
	EXPECT_TRUE(maps_curl());
}

TEST_F(Firmware, AServerCertificateChainedToThePinnedOneForAnotherHostIsAccepted)
{
	start_broker(ApBroker{true});
	std::string key = root_->at("/pki/web.key"), csr = root_->at("/pki/web.csr"), crt = root_->at("/pki/web.crt");
	ASSERT_EQ(wlctest::run({"/usr/bin/openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out",
				csr, "-subj", "/CN=firmware.elsewhere"}, 30s).status, 0);
	ASSERT_EQ(wlctest::run({"/usr/bin/openssl", "x509", "-req", "-in", csr, "-CA", self_signed_cert_, "-CAkey",
				self_signed_key_, "-CAcreateserial", "-out", crt, "-days", "2"}, 30s).status, 0);
	std::string image = make_image();
	serve(crt, key);
	wlctest::MqttClient services("services", 1883);
	offer(services, "fw/image.bin");
	ASSERT_TRUE(pump([&] { return !stubs_log().empty(); }, 20s)) << ap_log();
	EXPECT_TRUE(wlctest::read_text(ap_path("/sysupgrade.img")) == image);
}

TEST_F(Firmware, AForeignCertificateFailsAndIsTriedAgain)
{
	make_image();
	serve(self_signed_cert_, self_signed_key_);
	wlctest::MqttClient services("services", 1883);
	offer(services, "fw/image.bin");
	expect_failed_and_retried("mast.err: Failed to download firmware: ");
}

TEST_F(Firmware, AnErrorPageIsNoImage)
{
	wlctest::write_text(root_->at("/www/fw/missing.bin"), "HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found");
	serve(pki_.server_cert, pki_.server_key);
	wlctest::MqttClient services("services", 1883);
	offer(services, "fw/missing.bin");
	expect_failed_and_retried("mast.err: Failed to download firmware: HTTP status 404");
}

TEST_F(Firmware, AStalledTransferFailsWhileTheConnectionIsKept)
{
	// The server blocks opening a pipe nobody writes to: connected, and then silent.
	ASSERT_EQ(mkfifo(root_->at("/www/fw/stall.bin").c_str(), 0644), 0);
	serve(pki_.server_cert, pki_.server_key);
	wlctest::MqttClient services("services", 1883);
	offer(services, "fw/stall.bin");
	ASSERT_TRUE(pump([&] { return ap_logged("mast.err: Failed to download firmware!"); }, 30s)) << ap_log();
	struct stat st;
	EXPECT_NE(stat(ap_path("/tmp/ap_fw.bin").c_str(), &st), 0);
	// The broker connection was served all along (5 s keep-alive).
	EXPECT_EQ(ap_log().find("mast.notice: Disconnected"), std::string::npos) << ap_log();
	EXPECT_TRUE(ap_bus_.lookup("mqtt.wlc") != 0);
}

// An upgrade tool that fails is a failed attempt: logged, and the version
// asked for again, which offers the image anew.
TEST_F(Firmware, AFailingUpgradeIsLoggedAndTriedAgain)
{
	wlctest::RunResult r = wlctest::run(
		{"/bin/sh", std::string(WLC_SOURCE_DIR) + "/sim/tools/platform-stubs.sh", ap_path(""), "sysupgrade", "1"});
	ASSERT_EQ(r.status, 0) << r.err;
	make_image();
	serve(pki_.server_cert, pki_.server_key);
	wlctest::MqttClient services("services", 1883);
	offer(services, "fw/image.bin");
	ASSERT_TRUE(pump([&] { return count("mast.err: Failed to upgrade firmware!") >= 2; }, 40s)) << ap_log();
	EXPECT_EQ(stubs_log().substr(0, stubs_log().find('\n') + 1), "sysupgrade " + ap_path("/tmp/ap_fw.bin") + "\n");
}

// A FIRMWARE message without port is refused and the version asked for
// again; nothing is downloaded.
TEST_F(Firmware, AFirmwareMessageWithoutPortIsRefused)
{
	wlctest::MqttClient services("services", 1883);
	adopt(services, "r43");
	ASSERT_TRUE(pump([&] { return ap_status() == "fw_update"; }, 15s)) << ap_log();
	std::string log = ap_log(), mark = "Waiting for FIRMWARE message from topic ";
	size_t at = log.find(mark) + mark.size();
	std::string topic = log.substr(at, log.find("...", at) - at);
	ASSERT_TRUE(services.publish(topic, payload(R"({"path":"fw/image.bin"})"), 2, true));
	ASSERT_TRUE(pump([&] { return count("mast.err: Bad FIRMWARE message!") >= 2; }, 20s)) << ap_log();
	EXPECT_EQ(count("Downloading firmware..."), 0u);
	EXPECT_GE(count("Receive VERSION message"), 2u);
	EXPECT_EQ(stubs_log(), "");
}

} // namespace
} // namespace masttest
