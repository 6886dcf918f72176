// The RRM agent of one radio: its bus object, the channel and power commands
// it applies, the applied-settings files, and the aggressive mode.
#pragma once

#include <wlc/bus.h>

#include <memory>
#include <optional>
#include <string>

#include "common/mode_timer.h"
#include "common/options.h"
#include "common/publisher.h"
#include "scanner.h"

namespace rrm {

// A commanded power below this is the reports' "unknown" (-127); above the
// other bound it does not fit the signed dBm byte drivers keep.
inline constexpr int min_command_power_dbm = -126;
inline constexpr int max_command_power_dbm = 127;

class Agent {
public:
	Agent(Config cfg, wlc::Bus &bus, std::string device_id);
	Agent(const Agent &) = delete;
	Agent &operator=(const Agent &) = delete;

	// Registers the object and schedules the first list scan; the bus status.
	[[nodiscard]] int start();
	[[nodiscard]] bool aggressive() const { return mode_.active(); }
	[[nodiscard]] const ScanTimings &timings() { return scanner_.timings(); }

private:
	int on_config(blob_attr *msg);
	int apply_channel(int channel);
	int apply_power(int dbm);
	void enter_aggressive();
	void leave_aggressive(bool timed_out);

	Config cfg_;
	wlc::Bus &bus_;
	Publisher publisher_;
	Scanner scanner_;
	ScanTimings saved_;
	ModeTimer mode_;
	std::unique_ptr<wlc::BusObject> object_;
};

// The applied-settings file of a radio ("channel" or "power"): its value, or
// nullopt when absent or unreadable.
[[nodiscard]] std::optional<int> read_setting(int radio, const char *name);
// Writes it unless it already holds the value; false when it cannot.
bool write_setting(int radio, const char *name, int value);

} // namespace rrm
