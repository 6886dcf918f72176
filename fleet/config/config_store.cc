// Configuration documents in the inventory file.
#include "config_store.h"

#include "common/clock.h"

#include <algorithm>

namespace fleet {

namespace {

#define FLEET_CHANGE_COLUMNS "version, scope, name, at, author, reason, config, draft, not_before"

constexpr const char *kInsert = "INSERT INTO config_change(scope, name, at, author, reason, config, draft, not_before) "
				"VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)";
constexpr const char *kHead = "INSERT INTO config_head(scope, name, version) VALUES (?1, ?2, ?3) "
			      "ON CONFLICT(scope, name) DO UPDATE SET version = ?3";
constexpr const char *kCurrent = "SELECT " FLEET_CHANGE_COLUMNS " FROM config_change WHERE version = "
				 "(SELECT version FROM config_head WHERE scope = ?1 AND name = ?2)";
constexpr const char *kHistory = "SELECT " FLEET_CHANGE_COLUMNS " FROM config_change WHERE scope = ?1 AND name = ?2 "
				 "ORDER BY version DESC LIMIT ?3";
constexpr const char *kByVersion = "SELECT " FLEET_CHANGE_COLUMNS " FROM config_change WHERE version = ?1";
constexpr const char *kGroupOf = "SELECT grp, version FROM ap_group WHERE ap = ?1";
constexpr const char *kMember = "INSERT INTO ap_group(ap, grp, version) VALUES (?1, ?2, ?3) "
				"ON CONFLICT(ap) DO UPDATE SET grp = ?2, version = ?3";
constexpr const char *kDelivery = "SELECT sent, sent_at, applied, applied_at FROM ap_config WHERE ap = ?1";
constexpr const char *kPending =
	"SELECT id, site, wanted FROM (SELECT a.id AS id, a.site AS site, "
	"CASE WHEN hs.version IS NULL AND hg.version IS NULL AND ha.version IS NULL THEN 0 "
	"ELSE max(ifnull(hs.version, 0), ifnull(hg.version, 0), ifnull(ha.version, 0), ifnull(m.version, 0)) END AS wanted, "
	"ifnull(c.applied, 0) AS applied, ifnull(c.sent, 0) AS sent, ifnull(c.sent_at, 0) AS sent_at "
	"FROM ap a LEFT JOIN ap_group m ON m.ap = a.id "
	"LEFT JOIN config_head hs ON hs.scope = 'site' AND hs.name = a.site "
	"LEFT JOIN config_head hg ON hg.scope = 'group' AND hg.name = m.grp AND m.grp != '' "
	"LEFT JOIN config_head ha ON ha.scope = 'ap' AND ha.name = a.id "
	"LEFT JOIN ap_config c ON c.ap = a.id WHERE a.state = 'adopted' AND a.online = 1) "
	"JOIN config_change ch ON ch.version = wanted "
	"WHERE wanted > applied AND ch.not_before <= ?1 AND (sent < wanted OR sent_at <= ?2) ORDER BY id LIMIT ?3";
constexpr const char *kSent = "INSERT INTO ap_config(ap, sent, sent_at) VALUES (?1, ?2, ?3) "
			      "ON CONFLICT(ap) DO UPDATE SET sent = ?2, sent_at = ?3";
constexpr const char *kApplied = "INSERT INTO ap_config(ap, applied, applied_at) VALUES (?1, ?2, ?3) "
				 "ON CONFLICT(ap) DO UPDATE SET applied = max(applied, ?2), applied_at = ?3";
constexpr const char *kEvent = "INSERT INTO event(ap, at, kind, detail) VALUES (?1, ?2, 'config', ?3)";

ConfigChange read_change(const Statement &s)
{
	return {s.integer(0), s.text(1), s.text(2), s.integer(3), s.text(4), s.text(5), s.text(6), s.integer(7) != 0,
		s.integer(8)};
}

// {"group":"<name>"} with the name escaped as JSON needs; names are checked
// before they get here, so only the quote and backslash could matter.
std::string membership_json(const std::string &group)
{
	std::string out = R"({"group":")";
	for (char c : group) {
		if (c == '"' || c == '\\')
			out += '\\';
		out += c;
	}
	return out + "\"}";
}

} // namespace

std::string_view scope_name(ConfigScope s)
{
	switch (s) {
	case ConfigScope::site:
		return "site";
	case ConfigScope::group:
		return "group";
	case ConfigScope::ap:
		break;
	}
	return "ap";
}

ConfigStore::ConfigStore(sqlite3 *db, Clock clock)
	: db_(db), clock_(clock ? std::move(clock) : Clock(system_seconds)), insert_(db, kInsert), head_(db, kHead),
	  current_(db, kCurrent), history_(db, kHistory), by_version_(db, kByVersion), group_of_(db, kGroupOf),
	  member_(db, kMember), delivery_(db, kDelivery), pending_(db, kPending),
	  sent_(db, kSent), applied_(db, kApplied), event_(db, kEvent)
{
}

int64_t ConfigStore::now() const
{
	return clock_();
}

std::optional<int64_t> ConfigStore::set(const NewConfig &c)
{
	Transaction tx(db_);
	if (!tx.begun())
		return std::nullopt;
	insert_.bind(1, scope_name(c.scope)).bind(2, std::string_view(c.name)).bind(3, now());
	insert_.bind(4, std::string_view(c.author)).bind(5, std::string_view(c.reason)).bind(6, std::string_view(c.config));
	insert_.bind(7, int64_t{c.draft ? 1 : 0}).bind(8, c.not_before);
	if (!insert_.run_once())
		return std::nullopt;
	int64_t version = sqlite3_last_insert_rowid(db_);
	head_.bind(1, scope_name(c.scope)).bind(2, std::string_view(c.name)).bind(3, version);
	if (!head_.run_once() || !tx.commit())
		return std::nullopt;
	return version;
}

std::optional<int64_t> ConfigStore::set_group(const std::string &ap, const std::string &group, const std::string &author)
{
	Transaction tx(db_);
	if (!tx.begun())
		return std::nullopt;
	std::string membership = membership_json(group);
	insert_.bind(1, std::string_view("member")).bind(2, std::string_view(ap)).bind(3, now());
	insert_.bind(4, std::string_view(author)).bind(5, std::string_view("")).bind(6, std::string_view(membership));
	insert_.bind(7, int64_t{0}).bind(8, int64_t{0});
	if (!insert_.run_once())
		return std::nullopt;
	int64_t version = sqlite3_last_insert_rowid(db_);
	// Leaving every group is kept as a membership in no group, so that its
	// version still counts.
	member_.bind(1, std::string_view(ap)).bind(2, std::string_view(group)).bind(3, version);
	if (!member_.run_once() || !tx.commit())
		return std::nullopt;
	return version;
}

std::optional<ConfigChange> ConfigStore::current(ConfigScope scope, const std::string &name)
{
	current_.bind(1, scope_name(scope)).bind(2, std::string_view(name));
	std::optional<ConfigChange> c;
	if (current_.step() == SQLITE_ROW)
		c = read_change(current_);
	current_.reset();
	return c;
}

std::optional<ConfigChange> ConfigStore::change(int64_t version)
{
	by_version_.bind(1, version);
	std::optional<ConfigChange> c;
	if (by_version_.step() == SQLITE_ROW)
		c = read_change(by_version_);
	by_version_.reset();
	return c;
}

std::vector<ConfigChange> ConfigStore::history(ConfigScope scope, const std::string &name, int64_t limit)
{
	history_.bind(1, scope_name(scope)).bind(2, std::string_view(name)).bind(3, limit);
	std::vector<ConfigChange> out;
	while (history_.step() == SQLITE_ROW)
		out.push_back(read_change(history_));
	history_.reset();
	return out;
}

std::string ConfigStore::group_of(const std::string &ap)
{
	group_of_.bind(1, std::string_view(ap));
	std::string g = group_of_.step() == SQLITE_ROW ? group_of_.text(0) : std::string();
	group_of_.reset();
	return g;
}

EffectiveConfig ConfigStore::effective(const std::string &ap, const std::string &site)
{
	EffectiveConfig e;
	group_of_.bind(1, std::string_view(ap));
	int64_t membership = 0;
	if (group_of_.step() == SQLITE_ROW) {
		e.group = group_of_.text(0);
		membership = group_of_.integer(1);
	}
	group_of_.reset();
	int64_t newest = 0;
	auto take = [&](ConfigScope scope, const std::string &name) {
		if (name.empty())
			return;
		if (std::optional<ConfigChange> c = current(scope, name)) {
			e.documents.push_back(c->config);
			newest = std::max(newest, c->version);
		}
	};
	take(ConfigScope::site, site);
	take(ConfigScope::group, e.group);
	take(ConfigScope::ap, ap);
	if (e.documents.empty())
		return e;
	e.version = std::max(newest, membership);
	if (std::optional<ConfigChange> c = change(e.version)) {
		e.draft = c->draft;
		e.not_before = c->not_before;
	}
	return e;
}

ConfigDelivery ConfigStore::delivery(const std::string &ap)
{
	delivery_.bind(1, std::string_view(ap));
	ConfigDelivery d;
	if (delivery_.step() == SQLITE_ROW)
		d = {delivery_.integer(0), delivery_.integer(1), delivery_.integer(2), delivery_.integer(3)};
	delivery_.reset();
	return d;
}

std::vector<PendingConfig> ConfigStore::pending(int64_t resend_before, int64_t limit)
{
	pending_.bind(1, now()).bind(2, resend_before).bind(3, limit);
	std::vector<PendingConfig> out;
	while (pending_.step() == SQLITE_ROW)
		out.push_back({pending_.text(0), pending_.text(1), pending_.integer(2)});
	pending_.reset();
	return out;
}

bool ConfigStore::record_sent(const std::string &ap, int64_t version)
{
	sent_.bind(1, std::string_view(ap)).bind(2, version).bind(3, now());
	return sent_.run_once();
}

bool ConfigStore::record_applied(const std::string &ap, int64_t version)
{
	Transaction tx(db_);
	if (!tx.begun())
		return false;
	applied_.bind(1, std::string_view(ap)).bind(2, version).bind(3, now());
	std::string detail = "version " + std::to_string(version) + " confirmed";
	event_.bind(1, std::string_view(ap)).bind(2, now()).bind(3, std::string_view(detail));
	return applied_.run_once() && event_.run_once() && tx.commit();
}

} // namespace fleet
