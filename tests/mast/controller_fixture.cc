// The controller test fixture.
#include "controller_fixture.h"

#include <wlc/c/blobmsg_json.h>

#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace masttest {

Bytes payload(const std::string &json)
{
	wlc::BlobBuf b;
	if (!b.add_json(json))
		ADD_FAILURE() << "bad JSON " << json;
	auto *p = reinterpret_cast<const uint8_t *>(b.head());
	return Bytes(p, p + blob_raw_len(b.head()));
}

std::string fields_json(const Bytes &p)
{
	std::vector<uint32_t> aligned((p.size() + 3) / 4 + 1);
	std::memcpy(aligned.data(), p.data(), p.size());
	auto *attr = reinterpret_cast<blob_attr *>(aligned.data());
	char *s = blobmsg_format_json(attr, true);
	std::string out = s ? s : "";
	std::free(s);
	return out;
}

int MastRunTest::run_mast(const std::vector<std::string> &args, std::string *log)
{
	std::string file = root_->path() + "/mast.log";
	std::vector<std::string> argv = {std::string(WLC_BUILD_DIR) + "/mast/mast"};
	argv.insert(argv.end(), args.begin(), args.end());
	wlctest::Process mast(argv, {"WLC_ROOT=" + root_->path(), "WLC_LOG_FILE=" + file});
	int status = mast.wait(wlctest::kStartLimit);
	*log = wlctest::read_text(file);
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ControllerTest::SetUp()
{
	if (geteuid() != 0 || !wlctest::enter_private_netns())
		GTEST_SKIP() << "needs a network namespace of its own (root)";
	DeviceTest::SetUp();
	uloop_init();
	broker_ = std::make_unique<wlctest::Broker>(*root_, wlctest::BrokerOptions{1883, 0, nullptr, false});
	ASSERT_TRUE(client_.connect(bus_->socket()));
	client_.watch();
	// The controller's initialisation command: records each run.
	bin_dir_ = root_->path() + "/usr/bin";
	wlctest::write_text(bin_dir_ + "/wlc_init", "#!/bin/sh\necho \"wlc_init $*\" >> " + root_->path() + "/init.log\n");
	chmod((bin_dir_ + "/wlc_init").c_str(), 0755);
}

void ControllerTest::TearDown()
{
	if (!root_)
		return;
	mast_.reset();
	objects_.clear();
	client_.close();
	broker_.reset();
	site_ca_.reset();
	uloop_done();
	DeviceTest::TearDown();
}

void ControllerTest::lock_down(int tls_port)
{
	broker_.reset();
	site_ca_ = std::make_unique<wlctest::SiteAuthority>(*root_);
	wlctest::BrokerOptions opts;
	opts.tls_port = tls_port;
	opts.site = site_ca_.get();
	broker_ = std::make_unique<wlctest::Broker>(*root_, opts);
}

void ControllerTest::start_mast(const std::vector<std::string> &extra, bool wait_connected)
{
	std::vector<std::string> argv = {std::string(WLC_BUILD_DIR) + "/mast/mast", "-r", "wlc"};
	if (site_ca_)
		argv.insert(argv.end(), {"-u", site_ca_->controller_user(), "-p", site_ca_->controller_password()});
	argv.insert(argv.end(), extra.begin(), extra.end());
	mast_ = std::make_unique<wlctest::Process>(argv, std::vector<std::string>{
		"WLC_ROOT=" + root_->path(), "WLC_LOG_FILE=" + root_->path() + "/mast.log",
		"PATH=" + bin_dir_ + ":/usr/bin:/bin"});
	if (wait_connected) {
		ASSERT_TRUE(pump([&] { return has_object("mqtt.wlc"); }, wlctest::kStartLimit)) << log_text();
	}
}

void ControllerTest::wait_subscribed(const std::vector<std::string> &filters)
{
	for (const std::string &f : filters)
		ASSERT_TRUE(pump([&] { return broker_->subscriptions("wlc", f) > 0; }, wlctest::kStartLimit)) << "no subscription to " << f;
}

void ControllerTest::stand_in(const std::string &object, const std::vector<std::string> &methods)
{
	std::vector<wlc::Method> table;
	for (const std::string &m : methods) {
		table.push_back({m, {}, [this, object, m](wlc::Request &, blob_attr *msg) {
					 wlc::BlobBuf copy;
					 copy.add_fields(msg);
					 calls_.push_back(object + "." + m + " " + copy.json());
					 return UBUS_STATUS_OK;
				 }});
	}
	objects_.push_back(std::make_unique<wlc::BusObject>(object, table));
	ASSERT_EQ(objects_.back()->add(client_), UBUS_STATUS_OK);
}

bool ControllerTest::has_object(const std::string &path)
{
	return client_.lookup(path) != 0;
}

std::string ControllerTest::log_text() const
{
	return wlctest::read_text(root_->path() + "/mast.log");
}

int ControllerTest::call(const std::string &object, const std::string &method, const std::string &json,
			 std::string *reply, std::chrono::milliseconds limit)
{
	wlc::BlobBuf args;
	if (!args.add_json(json))
		return -100;
	uint32_t id = client_.lookup(object);
	if (!id)
		return UBUS_STATUS_NOT_FOUND;
	int status = -1;
	bool done = false;
	wlc::AsyncCall c;
	int started = client_.call_async(id, method, args, c,
			[&](blob_attr *msg) {
				if (!reply)
					return;
				*reply = wlc::BlobBuf().add_fields(msg).json();
			},
			[&](int s) {
				status = s;
				done = true;
			});
	if (started != UBUS_STATUS_OK)
		return started; // refused before it was sent
	pump([&] { return done; }, limit);
	return status;
}

} // namespace masttest
