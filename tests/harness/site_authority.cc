// The site's certificate authority for tests.
#include "site_authority.h"

#include <filesystem>
#include <stdexcept>

namespace wlctest {

namespace {

void must_run(const std::vector<std::string> &argv)
{
	RunResult r = run(argv, std::chrono::seconds(30));
	if (r.status != 0)
		throw std::runtime_error(argv[0] + " failed: " + r.err);
}

std::string tool()
{
	return std::string(WLC_SOURCE_DIR) + "/broker/site-ca.sh";
}

} // namespace

SiteAuthority::SiteAuthority(const TempRoot &root) : dir_(root.at("/site-ca")), issued_(root.at("/site-ca/issued"))
{
	must_run({"/bin/sh", tool(), "init", dir_, "wlc test site"});
	must_run({"/bin/sh", tool(), "broker", dir_, "localhost", "127.0.0.1"});
	must_run({"/usr/bin/mosquitto_passwd", "-c", "-b", password_file(), controller_user(), controller_password()});
}

void SiteAuthority::issue_ap(const std::string &id, const std::string &dir) const
{
	must_run({"/bin/sh", tool(), "ap", dir_, id, dir});
}

ClientAuth SiteAuthority::ap_auth(const std::string &id) const
{
	std::string dir = issued_ + "/" + id;
	if (!std::filesystem::exists(dir + "/mqtt.crt"))
		issue_ap(id, dir);
	return {ca_cert(), dir + "/mqtt.crt", dir + "/mqtt.key", "", ""};
}

std::string SiteAuthority::acl_dir()
{
	return std::string(WLC_SOURCE_DIR) + "/broker";
}

std::string SiteAuthority::config_writer()
{
	return std::string(WLC_SOURCE_DIR) + "/broker/broker-config.sh";
}

} // namespace wlctest
