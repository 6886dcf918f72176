// The simulated RRM site.
#include "site_fixture.h"

#include <wlc/blob.h>

#include <array>
#include <csignal>

namespace rrmtest {

void SiteTest::SetUp()
{
	ControllerTest::SetUp();
	if (IsSkipped() || HasFatalFailure())
		return;
	// The broker with its TLS listener for the APs: the site's own, locked
	// down, unless the test needs one that lets anything through.
	pki_ = wlctest::make_test_pki(*root_);
	if (locked_down()) {
		lock_down();
	} else {
		broker_.reset();
		broker_ = std::make_unique<wlctest::Broker>(*root_, wlctest::BrokerOptions{1883, 8883, &pki_, true});
	}
	start_mast({"-m", "site1"});
	std::vector<wlctest::SimDevice> devices;
	for (const std::string &name : kAps)
		devices.push_back({name, R"("radios": [{"band": 2, "channel": 6}])"});
	site_ = std::make_unique<wlctest::SimSite>(
		*root_, devices,
		R"({"a": "ap1", "b": "ap2", "rssi": -60}, {"a": "ap1", "b": "ap3", "rssi": -70},)"
		R"({"a": "ap2", "b": "ap3", "rssi": -80}, {"a": "ap3", "b": "ap4", "rssi": -60},)"
		R"({"a": "ap2", "b": "ap4", "rssi": -90})");
	// The simulator's default base addresses: ap<n> is ap1-a<n+2>-b4-c5.
	for (size_t i = 0; i < kAps.size(); i++)
		ids_[kAps[i]] = "ap1-a" + std::to_string(3 + i) + "-b4-c5";
	start_ctrl();
	ASSERT_NO_FATAL_FAILURE(masttest::publish_version(controller_auth()));
	for (const std::string &name : kAps)
		ASSERT_NO_FATAL_FAILURE(start_ap(name));
	for (const std::string &name : kAps)
		ASSERT_TRUE(ap_subscribed(name)) << aps_[name]->mast_log();
}

void SiteTest::TearDown()
{
	agents_.clear();
	aps_.clear();
	ctrl_.reset();
	site_.reset();
	ControllerTest::TearDown();
}

void SiteTest::start_ctrl(const std::vector<std::string> &extra)
{
	std::vector<std::string> args = {std::string(WLC_BUILD_DIR) + "/rrm/rrm_ctrl", "-p", "pol", "-s", "site1", "-b", "0", "-c",
					 "1", "-c", "6", "-c", "11", "-w", "20", "-n", "medium", "-r", "graceful", "-l", "10",
					 "-h", "20"};
	args.insert(args.end(), extra.begin(), extra.end());
	ctrl_ = std::make_unique<wlctest::Process>(
		args, std::vector<std::string>{"WLC_ROOT=" + root_->path(), "WLC_LOG_FILE=" + root_->path() + "/ctrl.log"});
	ASSERT_TRUE(masttest::pump([&] { return has_object("rrm_ctrl.site1.0"); }, wlctest::kStartLimit)) << ctrl_log();
}

int SiteTest::stop_ctrl()
{
	ctrl_->kill(SIGTERM);
	int status = ctrl_->wait(wlctest::kStartLimit);
	ctrl_.reset();
	// Gone from the bus before a new one starts.
	masttest::pump([&] { return !has_object("rrm_ctrl.site1.0"); }, wlctest::kStartLimit);
	return status;
}

void SiteTest::start_ap(const std::string &name)
{
	auto ap = std::make_unique<masttest::AdoptedAp>(*site_, name, pki_, std::vector<std::string>{"-g", "0:site1"});
	if (site_ca_)
		ap->enrol(*site_ca_, id(name));
	ap->start_mast();
	std::vector<std::string> env = {"WLC_ROOT=" + ap->root(), "WLC_LOG_FILE=" + ap->root() + "/rrm.log"};
	agents_[name] = std::make_unique<wlctest::Process>(
		std::vector<std::string>{std::string(WLC_BUILD_DIR) + "/rrm/rrm_agent", "-p", "pol", "-s", "site1", "-b", "0",
					 "-c", "1", "-c", "6", "-c", "11", "-i", "50", "-g", "1", "-r", "1", "-l", "-w"},
		env);
	aps_[name] = std::move(ap);
}

int SiteTest::ap_subscriptions(const std::string &name)
{
	return broker_->subscriptions(id(name), "zev/wlc/rrm/site1/ap/all/0/cmd/agressive");
}

bool SiteTest::ap_subscribed(const std::string &name, int before)
{
	// The adopted agent's last subscription.
	return masttest::wait_subscribed(*broker_, id(name), "zev/wlc/rrm/site1/ap/all/0/cmd/agressive", before);
}

size_t SiteTest::reports_relayed(const std::string &name)
{
	std::string log = log_text(), line = "Recv RRM radio report from " + id(name) + "\n";
	size_t n = 0;
	for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1))
		n++;
	return n;
}

bool SiteTest::all_report_again(const std::vector<std::string> &names)
{
	std::map<std::string, size_t> before;
	for (const std::string &name : names)
		before[name] = reports_relayed(name);
	return masttest::pump([&] {
		for (const std::string &name : names)
			if (reports_relayed(name) <= before[name])
				return false;
		return true;
	}, wlctest::kStartLimit);
}

std::string SiteTest::channels() const
{
	std::string out;
	for (const std::string &ap : kAps) {
		std::string r = radio(ap);
		out += r.substr(11, r.find(" power") - 11) + " ";
	}
	return out;
}

std::string SiteTest::model()
{
	std::string reply;
	int status = call("rrm_ctrl.site1.0", "model", "{}", &reply);
	return status == 0 ? reply : "status " + std::to_string(status);
}

std::map<std::string, unsigned> SiteTest::penalties(const std::string &model_json)
{
	std::map<std::string, unsigned> out;
	wlc::BlobBuf b;
	if (!b.add_json(model_json))
		return out;
	wlc::Fields<1> top;
	top.parse({{{"ap_list", BLOBMSG_TYPE_ARRAY}}}, b.head());
	if (!top.has(0))
		return out;
	blob_attr *ap, *slot;
	size_t rem, rem2;
	blobmsg_for_each_attr(ap, top[0], rem) {
		wlc::Fields<2> f;
		f.parse({{{"id", BLOBMSG_TYPE_STRING}, {"observers", BLOBMSG_TYPE_ARRAY}}}, ap);
		std::string id(f.str(0).value_or(""));
		out[id] = 0;
		if (!f.has(1))
			continue;
		blobmsg_for_each_attr(slot, f[1], rem2) {
			wlc::Fields<1> s;
			s.parse({{{"penalty", BLOBMSG_TYPE_INT32}}}, slot);
			out[id] += s.u32(0).value_or(0);
		}
	}
	return out;
}

} // namespace rrmtest
