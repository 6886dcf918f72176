// The RRM controller of one site and radio: its bus object, the channel and
// power steps on their timers, and the aggressive mode.
#pragma once

#include <wlc/bus.h>
#include <wlc/loop.h>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "common/mode_timer.h"
#include "common/options.h"
#include "common/publisher.h"
#include "plans.h"
#include "site_plan.h"
#include "store.h"

namespace rrm {

inline constexpr int default_power_interval_ms = 900000;
inline constexpr int default_channel_interval_ms = 3600000;
inline constexpr int aggressive_power_interval_ms = 60000;
inline constexpr int aggressive_channel_interval_ms = 120000;
// Newer reports that still show a move not applied before the AP is left alone.
inline constexpr unsigned max_missed_moves = 3;
// Steps of that kind the AP is then left alone for, unless what it reports
// changes first; after them it is planned again.
inline constexpr unsigned left_alone_steps = 8;
// Replies are kept within what the bus carries.
inline constexpr size_t max_reply_bytes = 1024 * 1024 - 4096;

class Controller {
public:
	using Clock = std::function<int64_t()>;

	Controller(Config cfg, wlc::Bus &bus, Clock clock);
	Controller(const Controller &) = delete;
	Controller &operator=(const Controller &) = delete;

	// Loads the store, starts both timers and registers the object; the bus status.
	[[nodiscard]] int start();

	// The steps, also run by their timers.
	void channel_step();
	void power_step();

	[[nodiscard]] const ReportStore &store() const { return store_; }
	[[nodiscard]] const std::optional<Model> &model() const { return model_; }
	[[nodiscard]] int channel_interval() const { return intervals_[0]; }
	[[nodiscard]] int power_interval() const { return intervals_[1]; }
	// Milliseconds until the next step of each kind, -1 when none is due.
	[[nodiscard]] int64_t channel_timer_remaining() { return channel_timer_.remaining(); }
	[[nodiscard]] int64_t power_timer_remaining() { return power_timer_.remaining(); }
	[[nodiscard]] bool aggressive() const { return mode_.active(); }
	[[nodiscard]] const Config &config() const { return cfg_; }

private:
	enum Step : size_t { channel = 0, power = 1 };
	struct Pending {
		int value = 0;
		uint64_t reports_at_send = 0;
		unsigned misses = 0;
	};
	struct LeftAlone {
		int reported = 0;    // what the AP reported when it was left alone
		unsigned steps_left = 0;
	};

	std::vector<wlc::Method> methods();
	int on_model(wlc::Request &req);
	int on_config(wlc::Request &req, blob_attr *msg);
	bool config_site(blob_attr *msg, bool &given);
	int on_report_add(blob_attr *msg);
	int on_report_list(wlc::Request &req, blob_attr *msg);

	void set_interval(Step s, int ms);
	bool refresh_model();
	std::optional<Move> plan(Step s, const Skip &skip) const;
	std::optional<Move> choose(Step s);
	[[nodiscard]] Overlap overlap() const;
	std::vector<Move> plan_site(Step s, const Skip &skip);
	std::vector<Move> choose_site(Step s);
	Skip left_alone(Step s);
	bool trusted(Step s, const Move &move);
	void send_move(Step s, const Move &move);
	std::optional<int> reported(Step s, const std::string &id) const;
	void run_step(Step s);
	void count_step(Step s, bool changed);
	void send_command(const std::string &target, const char *command, const Publisher::Fill &fill);

	void enter_aggressive();
	void refresh_aggressive(int timeout_s);
	void leave_aggressive(bool timed_out);

	Config cfg_;
	wlc::Bus &bus_;
	Clock clock_;
	ReportStore store_;
	Publisher publisher_;
	std::optional<Model> model_;
	int64_t model_valid_until_ = 0; // when an AP of the model will have stopped reporting
	std::array<int, 2> intervals_ = {default_channel_interval_ms, default_power_interval_ms};
	std::array<int, 2> saved_intervals_ = {};
	std::array<uint32_t, 2> no_change_counters_ = {};
	std::array<std::map<std::string, Pending>, 2> pending_;
	std::array<std::map<std::string, LeftAlone>, 2> given_up_;
	SiteTarget channel_target_; // of the site-wide channel plan, while its moves are sent
	wlc::Timer channel_timer_{[this] { channel_step(); }};
	wlc::Timer power_timer_{[this] { power_step(); }};
	ModeTimer mode_;
	std::unique_ptr<wlc::BusObject> object_;
};

} // namespace rrm
