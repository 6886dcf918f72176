// The agent's bus object and the commands it applies.
#include "agent.h"

#include <fsroot/fsroot.h>
#include <wlc/log.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

#include "radio.h"

namespace rrm {

namespace {

std::string setting_path(int radio, const char *name)
{
	return wlc::root_path("/etc/wlc/rrm/cfg/radio" + std::to_string(radio)) + "/" + name;
}

// Tries the radio's interfaces in turn until set succeeds; true when one did.
template <typename Set>
bool set_on_first(int radio, Set set)
{
	for (const zev_wifi_iface &i : up_interfaces(radio)) {
		std::optional<bool> r = set(i);
		if (r)
			return *r;
	}
	return false;
}

} // namespace

std::optional<int> read_setting(int radio, const char *name)
{
	FILE *f = std::fopen(setting_path(radio, name).c_str(), "re");
	if (!f)
		return std::nullopt;
	int v = 0;
	bool ok = std::fscanf(f, "%d", &v) == 1;
	std::fclose(f);
	return ok ? std::optional<int>(v) : std::nullopt;
}

bool write_setting(int radio, const char *name, int value)
{
	if (read_setting(radio, name) == value)
		return true;
	std::string path = setting_path(radio, name);
	std::error_code ec;
	std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
	std::string tmp = path + ".tmp";
	FILE *f = std::fopen(tmp.c_str(), "we");
	if (!f)
		return false;
	// On flash before it replaces the old value, so a power cut leaves one or the other.
	bool ok = std::fprintf(f, "%d", value) > 0 && std::fflush(f) == 0 && fsync(fileno(f)) == 0;
	ok = std::fclose(f) == 0 && ok;
	if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
		std::remove(tmp.c_str());
		return false;
	}
	return true;
}

Agent::Agent(Config cfg, wlc::Bus &bus, std::string device_id)
	: cfg_(std::move(cfg)), bus_(bus), publisher_(bus), scanner_(cfg_, publisher_, std::move(device_id)),
	  mode_({[this] { enter_aggressive(); }, [this](bool t) { leave_aggressive(t); }, nullptr})
{
}

int Agent::start()
{
	using P = blobmsg_policy;
	std::vector<wlc::Method> methods = {
		{"config", {P{"channel", BLOBMSG_TYPE_INT32}, P{"power", BLOBMSG_TYPE_INT32}},
		 [this](wlc::Request &, blob_attr *m) { return on_config(m); }},
		{"agressive", {P{"enable", BLOBMSG_TYPE_BOOL}, P{"timeout", BLOBMSG_TYPE_INT32}},
		 [this](wlc::Request &, blob_attr *m) { return mode_.handle(m); }},
	};
	object_ = std::make_unique<wlc::BusObject>("rrm_agent." + std::to_string(cfg_.radio), methods, "rrm_agent");
	int status = object_->add(bus_);
	if (status == 0)
		scanner_.end_cycle();
	return status;
}

int Agent::on_config(blob_attr *msg)
{
	static const std::array<blobmsg_policy, 2> policy = {
		{{"channel", BLOBMSG_TYPE_INT32}, {"power", BLOBMSG_TYPE_INT32}}};
	wlc::Fields<2> f;
	f.parse(policy, msg);
	if (!f.has(0) && !f.has(1))
		return UBUS_STATUS_INVALID_ARGUMENT;
	int status = 0;
	if (f.has(0))
		status = apply_channel(static_cast<int32_t>(*f.u32(0)));
	if (f.has(1))
		status = std::max(status, apply_power(static_cast<int32_t>(*f.u32(1))));
	return status;
}

int Agent::apply_channel(int channel)
{
	if (!cfg_.channel_control) {
		wlc::logf(LOG_INFO, "got channel config, but channel is not under RRM control, skip");
		return 0;
	}
	// Any channel the driver takes is applied, listed here or not: a
	// controller whose list differs must not find this AP frozen.
	if (channel < 1 || channel > max_channel) {
		wlc::logf(LOG_WARNING, "refused channel %d: not a channel", channel);
		return UBUS_STATUS_INVALID_ARGUMENT;
	}
	wlc::logf(LOG_NOTICE, "set channel %d", channel);
	write_setting(cfg_.radio, "channel", channel);
	bool applied = set_on_first(cfg_.radio, [channel](const zev_wifi_iface &i) -> std::optional<bool> {
		if (zev_wifi_iface_channel(i.ifname) == channel)
			return false; // already there: nothing to apply
		if (zev_wifi_iface_channel_set(i.ifname, channel) == 0)
			return true;
		return std::nullopt;
	});
	if (applied)
		scanner_.end_cycle();
	return 0;
}

int Agent::apply_power(int dbm)
{
	if (!cfg_.power_control) {
		wlc::logf(LOG_INFO, "got power config, but power is not under RRM control, skip");
		return 0;
	}
	// What the driver accepts is its business; only values that cannot be a
	// transmit power at all are refused.
	if (dbm < min_command_power_dbm || dbm > max_command_power_dbm) {
		wlc::logf(LOG_WARNING, "refused tx power %d dBm: not a power", dbm);
		return UBUS_STATUS_INVALID_ARGUMENT;
	}
	wlc::logf(LOG_NOTICE, "set tx power %d dBm", dbm);
	write_setting(cfg_.radio, "power", dbm);
	set_on_first(cfg_.radio, [dbm](const zev_wifi_iface &i) -> std::optional<bool> {
		if (zev_wifi_iface_tx_power_dbm_set(i.ifname, dbm) == 0)
			return true;
		return std::nullopt;
	});
	return 0;
}

void Agent::enter_aggressive()
{
	saved_ = scanner_.timings();
	scanner_.timings() = {250, 2000, 2000, 1};
	wlc::logf(LOG_NOTICE, "switch to agressive mode");
	scanner_.end_cycle();
}

void Agent::leave_aggressive(bool timed_out)
{
	scanner_.timings() = saved_;
	wlc::logf(LOG_NOTICE, "%sswitch to main mode", timed_out ? "agressive mode timed out, " : "");
	scanner_.end_cycle();
}

} // namespace rrm
