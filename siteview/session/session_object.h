// The "session" bus object: "login" {username, password, timeout?},
// "access" {ubus_rpc_session, scope?, object, function} -> {"access": bool},
// "destroy" {ubus_rpc_session}.
#pragma once

#include <wlc/bus.h>
#include <wlc/loop.h>

#include <string>
#include <vector>

#include "logins.h"
#include "sessions.h"

namespace siteview {

struct SessionSettings {
	std::string logins_file = "/etc/siteview/logins.json";
	std::string acl_dir = "/usr/share/rpcd/acl.d";
	int default_timeout = 300; // seconds of idleness before a session ends
};

class SessionService {
public:
	explicit SessionService(SessionSettings settings);
	wlc::BusObject &object() { return object_; }

private:
	int login(wlc::Request &req, blob_attr *msg);
	int access(wlc::Request &req, blob_attr *msg);
	int destroy(wlc::Request &req, blob_attr *msg);
	void reply_session(wlc::Request &req, const std::string &id, const Session &s);
	// Ends the sessions whose time is up, and waits for the next.
	void expire();
	void schedule_expiry();

	SessionSettings settings_;
	SessionTable sessions_;
	wlc::Timer expiry_;
	wlc::BusObject object_;
};

} // namespace siteview
