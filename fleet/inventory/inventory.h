// The AP inventory: one row per AP (identity, what its join and presence
// messages told, its state) and the history of what happened to each. Every
// write is one transaction, durable before the call returns true.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sqlite.h"

namespace fleet {

enum class ApState { pending, approved, adopted, offline, refused };
std::string_view state_name(ApState s);
std::optional<ApState> parse_state(std::string_view s);

// A listing leaves cert and custom_config empty; find fills them.
struct ApRecord {
	std::string id, site, model, serial, mac, cert, fw_version, fw_revision, ip, hostname;
	std::string custom_config = "{}"; // JSON object
	ApState state = ApState::pending;
	bool online = false;
	int64_t first_seen = 0, last_seen = 0;
};

// What a join request tells of an AP.
struct JoinInfo {
	std::string id, cert, fw_version, fw_revision, model, serial;
	std::optional<std::string> ip, mac, hostname, custom_config;
};

// What a presence message tells: the fields it carried, and online or not.
struct PresenceInfo {
	std::string id;
	std::optional<std::string> fw_version, fw_revision, model, serial, ip, mac, hostname;
	bool online = false;
};

struct EventNote {
	std::string kind;   // "join", "approval", "adoption", "offline", "online", "refusal", "forget", ...
	std::string detail; // free text: who decided, what changed
};

struct Event {
	int64_t seq = 0;
	std::string ap;
	int64_t at = 0;
	std::string kind, detail;
};

struct ApFilter {
	std::optional<std::string> site, model;
	std::optional<ApState> state;
	int64_t offset = 0;
	int64_t limit = -1; // -1: all
};

enum class AllowKind { serial, mac };

// The most events an AP's history keeps (the oldest go first).
inline constexpr int64_t kMaxEventsPerAp = 1000;

class ApTable;

class Inventory {
public:
	using Clock = std::function<int64_t()>; // seconds since the epoch
	// Reads the listed fields of every AP from the file; from then on the
	// inventory keeps them in memory, changed with each change it commits.
	// The connection's other users write no AP rows (they may write the file's
	// other tables); another connection's commits are noticed and read again.
	explicit Inventory(SqliteHandle db, Clock clock = {});
	~Inventory();
	Inventory(Inventory &&) noexcept;
	Inventory &operator=(Inventory &&) = delete;

	[[nodiscard]] std::optional<ApRecord> find(const std::string &id);
	// The APs that pass the filter, by identifier, from offset on, at most limit.
	[[nodiscard]] std::vector<ApRecord> list(const ApFilter &filter);
	// How many APs pass the filter (offset and limit aside).
	[[nodiscard]] int64_t count(const ApFilter &filter);
	[[nodiscard]] std::vector<Event> history(const std::string &id, int64_t limit);
	[[nodiscard]] int64_t count();

	// Writes a join's fields with the AP's state and site (the site of an
	// AP already known is kept) and the events.
	[[nodiscard]] bool save_join(const JoinInfo &join, const std::string &site, ApState state,
				     const std::vector<EventNote> &events);
	// Writes the fields a presence message carried; an AP not yet known gets
	// site and state.
	[[nodiscard]] bool save_presence(const PresenceInfo &p, const std::string &site, ApState state,
					 const std::vector<EventNote> &events);
	[[nodiscard]] bool set_state(const std::string &id, ApState state, const EventNote &event);
	// Adds an event to the AP's history.
	[[nodiscard]] bool note(const std::string &id, const EventNote &event);
	// Removes the AP; its history stays, closed by the event.
	[[nodiscard]] bool forget(const std::string &id, const EventNote &event);

	// Registers a serial or MAC for approval, with the site such an AP joins.
	[[nodiscard]] bool allow(AllowKind kind, const std::string &value, const std::string &site);
	// The site of the registration that matches serial or MAC, if any.
	[[nodiscard]] std::optional<std::string> allowed_site(const std::string &serial, const std::string &mac);

	sqlite3 *raw() const { return db_.get(); }

private:
	struct Listing;

	bool add_events(const std::string &id, const std::vector<EventNote> &events);
	int64_t now() const;
	// The listed fields of every AP, read again first when they may no longer
	// be the file's (a transaction rolled back, another connection's commit).
	const ApTable &listed();
	void reload(int64_t data_version);
	// Brings what is held of the AP in line with the file after a change.
	void sync(const std::string &id);

	// Declared before the connection, whose rollback hook points to it, so
	// that it outlives the connection.
	std::unique_ptr<Listing> listing_;
	SqliteHandle db_;
	Clock clock_;
	Statement find_, join_, join_detail_, presence_, presence_indexed_, state_, forget_, forget_detail_, event_, history_,
		trim_, allow_, allowed_, row_, all_, data_version_;
};

} // namespace fleet
