// The AP test fixture.
#include "ap_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

namespace masttest {

namespace {

void openssl(const std::vector<std::string> &args)
{
	std::vector<std::string> argv = {"/usr/bin/openssl"};
	argv.insert(argv.end(), args.begin(), args.end());
	wlctest::RunResult r = wlctest::run(argv, 30s);
	if (r.status != 0)
		throw std::runtime_error("openssl failed: " + r.err);
}

} // namespace

void ApTest::SetUp()
{
	ControllerTest::SetUp();
	if (IsSkipped() || HasFatalFailure())
		return;
	pki_ = wlctest::make_test_pki(*root_);
	self_signed_cert_ = root_->at("/pki/self.crt");
	self_signed_key_ = root_->at("/pki/self.key");
	openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", self_signed_key_, "-out", self_signed_cert_,
		 "-days", "2", "-subj", "/CN=wlc-self", "-addext", "subjectAltName=IP:127.0.0.1"});
	start_broker();
	stand_in("db.ap", {"set"});
	stand_in("log", {"add"});
	start_mast();

	site_ = std::make_unique<wlctest::SimSite>(
		*root_, std::vector<wlctest::SimDevice>{{"ap1", R"("revision": "r42-abc", "release": "23.05.2")"}});
	ap_root_ = site_->root_of("ap1");
	std::string socket = ap_root_ + "/var/run/ubus/ubus.sock";
	wlctest::write_text(ap_path("/var/run/ubus/.keep"), "");
	ap_bus_daemon_ = std::make_unique<wlctest::Process>(std::vector<std::string>{WLC_UBUSD, "-s", socket});
	ASSERT_TRUE(wlctest::wait_until([&] { return access(socket.c_str(), F_OK) == 0; }, 5s));
	ASSERT_TRUE(ap_bus_.connect(socket));
	ap_bus_.watch();
	wlctest::write_text(ap_path("/data/ssl/mqtt.crt"), wlctest::read_text(pki_.client_cert));
	wlctest::write_text(ap_path("/data/ssl/mqtt.key"), wlctest::read_text(pki_.client_key));
	wlctest::write_text(ap_path("/tmp/running.config"), R"({"ssid":"office","vlan":7})");
	wlctest::write_text(ap_path("/proc/sys/kernel/hostname"), "ap-one\n");
	wlctest::RunResult r = wlctest::run({"/bin/sh", std::string(WLC_SOURCE_DIR) + "/sim/tools/platform-stubs.sh", ap_root_});
	ASSERT_EQ(r.status, 0) << r.err;
}

void ApTest::TearDown()
{
	if (!root_)
		return;
	ap_mast_.reset();
	ap_services_.clear();
	ap_bus_.close();
	ap_bus_daemon_.reset();
	site_.reset();
	ControllerTest::TearDown();
}

void ApTest::start_broker(ApBroker kind)
{
	self_signed_ = kind.self_signed;
	auto connections = [&] {
		std::string log = log_text();
		size_t n = 0;
		for (size_t at = log.find("mast.debug: Connected"); at != std::string::npos;
		     at = log.find("mast.debug: Connected", at + 1))
			n++;
		return n;
	};
	size_t before = connections();
	broker_.reset();
	wlctest::TestPki served = pki_;
	if (kind.self_signed) {
		served.server_cert = self_signed_cert_;
		served.server_key = self_signed_key_;
	}
	broker_ = std::make_unique<wlctest::Broker>(*root_, wlctest::BrokerOptions{1883, 8883, &served, true});
	// A running controller is back on the new broker before the test goes on.
	if (mast_) {
		// A reconnection that could not start waits 10 s before the next try.
		ASSERT_TRUE(pump([&] { return connections() > before; }, wlctest::kStartLimit)) << log_text();
	}
}

std::string ApTest::server_cert_path() const
{
	return self_signed_ ? self_signed_cert_ : pki_.server_cert;
}

void ApTest::start_ap(const std::vector<std::string> &args)
{
	// A stopped or killed mast's object stays on the bus until the bus daemon
	// has seen its connection close; the object waited for below must be the
	// new one's.
	ap_mast_.reset();
	ASSERT_TRUE(pump([&] { return ap_bus_.lookup("mast") == 0; }, wlctest::kStartLimit))
		<< "an earlier mast's object is still on the bus";
	std::vector<std::string> argv = {std::string(WLC_BUILD_DIR) + "/mast/mast"};
	argv.insert(argv.end(), args.begin(), args.end());
	// The AP's PATH holds only its own root's program directories.
	std::string path = ap_root_ + "/usr/sbin:" + ap_root_ + "/usr/bin:" + ap_root_ + "/sbin:" + ap_root_ + "/bin";
	ap_mast_ = std::make_unique<wlctest::Process>(argv, std::vector<std::string>{
		"WLC_ROOT=" + ap_root_, "WLC_LOG_FILE=" + ap_path("/mast.log"), "PATH=" + path});
	ASSERT_TRUE(pump([&] { return ap_bus_.lookup("mast") != 0; }, wlctest::kStartLimit)) << ap_log();
}

void ApTest::start_ap_service(const std::string &program, const std::vector<std::string> &args)
{
	std::vector<std::string> argv = {std::string(WLC_BUILD_DIR) + "/sim/" + program, "-s",
					 ap_root_ + "/var/run/ubus/ubus.sock"};
	argv.insert(argv.end(), args.begin(), args.end());
	ap_services_.push_back(std::make_unique<wlctest::Process>(argv, std::vector<std::string>{"WLC_ROOT=" + ap_root_}));
}

int ApTest::ap_call(const std::string &object, const std::string &method, const std::string &json, std::string *reply)
{
	wlc::BlobBuf args;
	if (!args.add_json(json))
		return -100;
	uint32_t id = ap_bus_.lookup(object);
	if (!id)
		return UBUS_STATUS_NOT_FOUND;
	int status = -1;
	bool done = false;
	wlc::AsyncCall c;
	ap_bus_.call_async(id, method, args, c, [&](blob_attr *msg) {
		if (reply)
			*reply = wlc::BlobBuf().add_fields(msg).json();
	}, [&](int s) {
		status = s;
		done = true;
	});
	pump([&] { return done; }, 10s);
	return status;
}

std::string ApTest::ap_status()
{
	std::string reply;
	if (ap_call("mast", "status", "{}", &reply) != 0)
		return "";
	auto at = reply.find("\"status\":\"");
	if (at == std::string::npos)
		return "";
	at += 10;
	return reply.substr(at, reply.find('"', at) - at);
}

} // namespace masttest

namespace masttest {

void ApTest::answer_join(wlctest::MqttClient &services)
{
	wlctest::MqttMessage m;
	ASSERT_TRUE(services.next(m, 30s)) << ap_log();
	ASSERT_NE(m.topic.find("/join_request"), std::string::npos) << m.topic;
	std::string prefix = "zev/wlc/control/ap/";
	ap_id_ = m.topic.substr(prefix.size(), m.topic.find('/', prefix.size()) - prefix.size());
	ASSERT_TRUE(services.publish(prefix + ap_id_ + "/join_response", {}, 2));
}

void ApTest::join()
{
	wlctest::MqttClient services("services", 1883);
	join(services);
}

} // namespace masttest

namespace masttest {

void ApTest::join(wlctest::MqttClient &services)
{
	ASSERT_TRUE(services.subscribe("zev/wlc/control/ap/+/join_request"));
	start_ap({"-h", "127.0.0.1:8883"});
	answer_join(services);
	ASSERT_TRUE(pump([&] { return ap_logged("mast.notice: Connected"); }, 20s)) << ap_log();
}

void ApTest::adopt(wlctest::MqttClient &services, const std::string &revision)
{
	join(services);
	if (HasFatalFailure())
		return;
	ASSERT_TRUE(services.publish("zev/wlc/firmware/version",
				     payload(R"({"version":"23.05.2","revision":")" + revision + R"("})"), 2, true));
}

} // namespace masttest
