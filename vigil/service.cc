// The method table of "vigil".
#include "service.h"

#include "acs.h"
#include "health.h"
#include "net_stats.h"
#include "ntp.h"
#include "radio.h"
#include "scan.h"
#include "version.h"

namespace vigil {

Service::Service(wlc::Bus &bus, WlanMap wlans)
	: bus_(bus), wlans_(std::move(wlans)), object_("vigil", methods())
{
}

std::vector<wlc::Method> Service::methods()
{
	// Methods without arguments ignore whatever message comes with the call.
	return {
		{"switchport", {}, [](wlc::Request &req, blob_attr *) { return switchport_method(req); }},
		{"dhcp_leases", {}, [](wlc::Request &req, blob_attr *) { return dhcp_leases_method(req); }},
		{"health", {}, [this](wlc::Request &req, blob_attr *) { return health_method(cpu_, req); }},
		{"arp", {}, [](wlc::Request &req, blob_attr *) { return arp_method(req); }},
		{"vlan", {}, [this](wlc::Request &req, blob_attr *) { return vlan_method(bus_, req); }},
		{"dns", {}, [this](wlc::Request &req, blob_attr *) { return dns_method(bus_, req); }},
		{"version", {}, [this](wlc::Request &req, blob_attr *) { return version_method(bus_, req); }},
		{"radio", {}, [this](wlc::Request &req, blob_attr *) { return radio_method(wlans_, req); }},
		{"radio_scan",
		 {{"radio", BLOBMSG_TYPE_INT32}, {"type", BLOBMSG_TYPE_INT32}, {"interval", BLOBMSG_TYPE_INT32},
		  {"ch_list", BLOBMSG_TYPE_ARRAY}},
		 [this](wlc::Request &req, blob_attr *msg) { return radio_scan_method(jobs_, req, msg); }},
		{"radio_acs",
		 {{"radio", BLOBMSG_TYPE_INT32}, {"alg", BLOBMSG_TYPE_STRING}, {"ch_list", BLOBMSG_TYPE_ARRAY},
		  {"force", BLOBMSG_TYPE_BOOL}, {"skip_list", BLOBMSG_TYPE_ARRAY}},
		 [this](wlc::Request &req, blob_attr *msg) { return radio_acs_method(jobs_, req, msg); }},
		{"wireless_clients", {}, [](wlc::Request &req, blob_attr *) { return wireless_clients_method(req); }},
		{"ip_route", {}, [](wlc::Request &req, blob_attr *) { return ip_route_method(req); }},
		{"ntp", {}, [](wlc::Request &req, blob_attr *) { return ntp_method(req); }},
		{"boot_slot", {}, [](wlc::Request &req, blob_attr *) { return boot_slot_method(req); }},
		{"send_file",
		 {{"url", BLOBMSG_TYPE_STRING}, {"file", BLOBMSG_TYPE_STRING}, {"concat", BLOBMSG_TYPE_ARRAY},
		  {"remove", BLOBMSG_TYPE_BOOL}},
		 [this](wlc::Request &req, blob_attr *msg) { return uploads_.start(req, msg); }},
	};
}

int Service::start()
{
	cpu_.start();
	return object_.add(bus_);
}

void Service::stop()
{
	object_.remove();
}

} // namespace vigil
