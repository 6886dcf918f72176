// The site's certificate authority and the controller's broker password, made
// with the product's own tools (broker/site-ca.sh, mosquitto_passwd), for a
// broker run with the site's configuration and access lists.
#pragma once

#include <string>

#include "harness.h"
#include "mqtt_client.h"

namespace wlctest {

class SiteAuthority {
public:
	// A new site CA under root/site-ca with the broker's certificate
	// (localhost, 127.0.0.1) and the controller's password file.
	explicit SiteAuthority(const TempRoot &root);

	// Issues the client certificate of AP id into dir (mqtt.crt, mqtt.key),
	// as installed on the AP under /data/ssl.
	void issue_ap(const std::string &id, const std::string &dir) const;
	// A client of the AP listener with AP id's certificate (issued once).
	ClientAuth ap_auth(const std::string &id) const;
	// The controller's client of the loopback listener.
	ClientAuth controller_auth() const { return {"", "", "", controller_user(), controller_password()}; }

	std::string ca_cert() const { return dir_ + "/ca.crt"; }
	std::string broker_cert() const { return dir_ + "/broker.crt"; }
	std::string broker_key() const { return dir_ + "/broker.key"; }
	std::string password_file() const { return dir_ + "/controller.passwd"; }
	static std::string controller_user() { return "wlc"; }
	static std::string controller_password() { return "site-secret"; }
	// The shipped access lists and the configuration writer.
	static std::string acl_dir();
	static std::string config_writer();

private:
	std::string dir_;
	std::string issued_;
};

} // namespace wlctest
