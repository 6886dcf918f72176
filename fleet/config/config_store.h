// The configuration documents of sites, groups and APs in the inventory
// file: every change kept with its version, author and reason; the group
// of each AP; and per AP the version last sent and the version it
// confirmed. Versions come from one sequence, so the configuration an AP
// should run has the highest version of the documents and membership that
// make it up, and any later change that concerns it has a higher one.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/sqlite.h"

namespace fleet {

enum class ConfigScope { site, group, ap };
std::string_view scope_name(ConfigScope s);

struct ConfigChange {
	int64_t version = 0;
	std::string scope, name;
	int64_t at = 0;
	std::string author, reason, config;
	bool draft = false;
	int64_t not_before = 0;
};

struct NewConfig {
	ConfigScope scope = ConfigScope::site;
	std::string name, config, author, reason;
	bool draft = false;
	int64_t not_before = 0; // not sent to APs before this time
};

// What an AP should run: its documents merged, and the version and options
// of the newest change among them.
struct EffectiveConfig {
	int64_t version = 0; // 0: no document concerns the AP
	std::string group;
	std::vector<std::string> documents; // site's, group's, AP's, those that exist
	bool draft = false;
	int64_t not_before = 0;
};

struct ConfigDelivery {
	int64_t sent = 0, sent_at = 0, applied = 0, applied_at = 0;
};

// An adopted, online AP whose confirmed version is behind.
struct PendingConfig {
	std::string id, site;
	int64_t wanted = 0;
};

class ConfigStore {
public:
	using Clock = std::function<int64_t()>;
	explicit ConfigStore(sqlite3 *db, Clock clock = {});

	// The new change's version; null when it could not be written.
	[[nodiscard]] std::optional<int64_t> set(const NewConfig &change);
	// Puts the AP in the group (none when empty); the change's version.
	[[nodiscard]] std::optional<int64_t> set_group(const std::string &ap, const std::string &group,
						      const std::string &author);
	[[nodiscard]] std::optional<ConfigChange> current(ConfigScope scope, const std::string &name);
	// The newest changes first, at most limit.
	[[nodiscard]] std::vector<ConfigChange> history(ConfigScope scope, const std::string &name, int64_t limit);
	[[nodiscard]] std::string group_of(const std::string &ap);
	[[nodiscard]] EffectiveConfig effective(const std::string &ap, const std::string &site);
	[[nodiscard]] ConfigDelivery delivery(const std::string &ap);
	// APs to send to now: behind, not held back, and not sent this version
	// since resend_before (seconds since the epoch).
	[[nodiscard]] std::vector<PendingConfig> pending(int64_t resend_before, int64_t limit);
	[[nodiscard]] bool record_sent(const std::string &ap, int64_t version);
	// Raises the confirmed version (never lowers it), with a "config" event
	// in the AP's history.
	[[nodiscard]] bool record_applied(const std::string &ap, int64_t version);

private:
	std::optional<ConfigChange> change(int64_t version);
	int64_t now() const;

	sqlite3 *db_;
	Clock clock_;
	Statement insert_, head_, current_, history_, by_version_, group_of_, member_, delivery_, pending_, sent_,
		applied_, event_;
};

} // namespace fleet
