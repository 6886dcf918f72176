// What an AP says about itself: the ONLINE message (presence, also the will)
// and the join request, and the topics they go on.
#pragma once

#include <wlc/blob.h>

#include <string>

namespace mast {

// "zev/wlc/control/ap/<id>/online" with the device identifier.
std::string online_topic();

// {online, model, serial, fw_version, fw_revision, protocol, mac[, hostname][, ip]}
void build_online(wlc::BlobBuf &buf, bool online);

// {[ip], config, model, serial, fw_version, fw_revision, protocol, mac[, hostname][, cert]}
void build_join_request(wlc::BlobBuf &buf);

// The LAN MAC address from the factory data, read once ("00:00:00:00:00:00"
// when it cannot be read).
const std::string &lan_mac();

// The management address as "a.b.c.d/prefix"; empty when unknown.
std::string management_ip();

// The system host name; empty when it cannot be read.
std::string host_name();

} // namespace mast
