// The AP inventory.
#include "inventory.h"

#include "common/clock.h"

#include <algorithm>
#include <array>

namespace fleet {

namespace {

// The most rows a limited listing reserves room for before it reads them.
constexpr int64_t kReservedPage = 2000;

constexpr std::array<std::string_view, 5> kStateNames = {"pending", "approved", "adopted", "offline", "refused"};

// The columns of a listing: everything but the certificate and the join's
// custom configuration, which only find reads.
#define FLEET_AP_COLUMNS                                                                                         \
	"ap.id, ap.site, ap.model, ap.serial, ap.mac, ap.fw_version, ap.fw_revision, ap.ip, ap.hostname, ap.state, " \
	"ap.online, ap.first_seen, ap.last_seen"

constexpr const char *kFind = "SELECT " FLEET_AP_COLUMNS ", d.cert, COALESCE(d.custom_config, '{}') FROM ap "
			      "LEFT JOIN ap_detail d ON d.id = ap.id WHERE ap.id = ?1";
constexpr const char *kJoin =
	"INSERT INTO ap(id, site, fw_version, fw_revision, model, serial, ip, mac, hostname, state, online, first_seen, "
	"last_seen) VALUES (?1, ?2, ?4, ?5, ?6, ?7, COALESCE(?8, ''), COALESCE(?9, ''), COALESCE(?10, ''), ?12, 1, ?13, "
	"?13) ON CONFLICT(id) DO UPDATE SET fw_version = ?4, fw_revision = ?5, model = ?6, serial = ?7, "
	"ip = COALESCE(?8, ip), mac = COALESCE(?9, mac), hostname = COALESCE(?10, hostname), state = ?12, online = 1, "
	"last_seen = ?13";
// Written only when the join brought another certificate or configuration.
constexpr const char *kJoinDetail =
	"INSERT INTO ap_detail(id, cert, custom_config) VALUES (?1, ?2, COALESCE(?3, '{}')) ON CONFLICT(id) DO UPDATE "
	"SET cert = ?2, custom_config = COALESCE(?3, custom_config) WHERE cert IS NOT ?2 OR "
	"custom_config IS NOT COALESCE(?3, custom_config)";
constexpr const char *kForgetDetail = "DELETE FROM ap_detail WHERE id = ?1";
constexpr const char *kPresence =
	"INSERT INTO ap(id, site, fw_version, fw_revision, model, serial, ip, mac, hostname, state, online, first_seen, "
	"last_seen) VALUES (?1, ?2, COALESCE(?3, ''), COALESCE(?4, ''), COALESCE(?5, ''), COALESCE(?6, ''), "
	"COALESCE(?7, ''), COALESCE(?8, ''), COALESCE(?9, ''), ?10, ?11, ?12, ?12) ON CONFLICT(id) DO UPDATE SET "
	"fw_version = COALESCE(?3, fw_version), fw_revision = COALESCE(?4, fw_revision), ip = COALESCE(?7, ip), "
	"hostname = COALESCE(?9, hostname), online = ?11, last_seen = ?12";
// The indexed fields of a presence record, written only when one changed: an
// UPDATE that names a column rewrites its index entries even when the value
// stays, and every connection of an AP brings a presence record.
constexpr const char *kPresenceIndexed =
	"UPDATE ap SET model = COALESCE(?2, model), serial = COALESCE(?3, serial), mac = COALESCE(?4, mac), state = ?5 "
	"WHERE id = ?1 AND (model IS NOT COALESCE(?2, model) OR serial IS NOT COALESCE(?3, serial) OR "
	"mac IS NOT COALESCE(?4, mac) OR state IS NOT ?5)";
constexpr const char *kState = "UPDATE ap SET state = ?2 WHERE id = ?1";
constexpr const char *kForget = "DELETE FROM ap WHERE id = ?1";
constexpr const char *kEvent = "INSERT INTO event(ap, at, kind, detail) VALUES (?1, ?2, ?3, ?4)";
// Each AP keeps its newest kMaxEventsPerAp events.
constexpr const char *kTrim = "DELETE FROM event WHERE ap = ?1 AND seq <= (SELECT seq FROM event WHERE ap = ?1 "
			      "ORDER BY seq DESC LIMIT 1 OFFSET ?2)";
constexpr const char *kHistory = "SELECT seq, ap, at, kind, detail FROM (SELECT * FROM event WHERE ap = ?1 "
				 "ORDER BY seq DESC LIMIT ?2) ORDER BY seq";
constexpr const char *kCount = "SELECT count(*) FROM ap";
constexpr const char *kAllow = "INSERT INTO allowed(kind, value, site, added) VALUES (?1, ?2, ?3, ?4) "
			       "ON CONFLICT(kind, value) DO UPDATE SET site = ?3";
constexpr const char *kAllowed = "SELECT site FROM allowed WHERE (kind = 'serial' AND value = ?1 AND ?1 != '') OR "
				 "(kind = 'mac' AND value = lower(?2) AND ?2 != '') ORDER BY kind DESC LIMIT 1";

// The WHERE clause of the filters given (bit 0 site, 1 state, 2 model), so
// that SQLite can use the indexes; the values are always bound parameters.
std::string filter_clause(unsigned mask)
{
	std::string where;
	auto add = [&](const char *cond) { where += where.empty() ? std::string(" WHERE ") + cond : std::string(" AND ") + cond; };
	if (mask & 1)
		add("site = ?1");
	if (mask & 2)
		add("state = ?2");
	if (mask & 4)
		add("model = ?3");
	return where;
}

unsigned filter_mask(const ApFilter &f)
{
	return (f.site ? 1u : 0u) | (f.state ? 2u : 0u) | (f.model ? 4u : 0u);
}

// Binds the filter's values; a slot the statement does not use takes none.
void bind_filter(Statement &s, const ApFilter &f)
{
	std::optional<std::string> state;
	if (f.state)
		state = std::string(state_name(*f.state));
	s.bind(1, f.site).bind(2, state).bind(3, f.model);
}

// A listing's row into r; find's rows add the certificate and custom
// configuration.
void read_record(const Statement &s, bool detail, ApRecord &r)
{
	r.id = s.text(0);
	r.site = s.text(1);
	r.model = s.text(2);
	r.serial = s.text(3);
	r.mac = s.text(4);
	r.fw_version = s.text(5);
	r.fw_revision = s.text(6);
	r.ip = s.text(7);
	r.hostname = s.text(8);
	r.state = parse_state(s.view(9)).value_or(ApState::pending);
	r.online = s.integer(10) != 0;
	r.first_seen = s.integer(11);
	r.last_seen = s.integer(12);
	if (detail) {
		r.cert = s.text(13);
		r.custom_config = s.text(14);
	}
}

} // namespace

std::string_view state_name(ApState s)
{
	return kStateNames[static_cast<size_t>(s)];
}

std::optional<ApState> parse_state(std::string_view s)
{
	for (size_t i = 0; i < kStateNames.size(); i++)
		if (kStateNames[i] == s)
			return static_cast<ApState>(i);
	return std::nullopt;
}

Inventory::Inventory(SqliteHandle db, Clock clock)
	: db_(std::move(db)), clock_(clock ? std::move(clock) : Clock(system_seconds)), find_(db_.get(), kFind),
	  join_(db_.get(), kJoin), join_detail_(db_.get(), kJoinDetail), presence_(db_.get(), kPresence), presence_indexed_(db_.get(), kPresenceIndexed),
	  state_(db_.get(), kState),
	  forget_(db_.get(), kForget), forget_detail_(db_.get(), kForgetDetail), event_(db_.get(), kEvent), history_(db_.get(), kHistory), trim_(db_.get(), kTrim),
	  count_(db_.get(), kCount), allow_(db_.get(), kAllow), allowed_(db_.get(), kAllowed)
{
}

int64_t Inventory::now() const
{
	return clock_();
}

std::optional<ApRecord> Inventory::find(const std::string &id)
{
	find_.bind(1, std::string_view(id));
	std::optional<ApRecord> r;
	if (find_.step() == SQLITE_ROW)
		read_record(find_, true, r.emplace());
	find_.reset();
	return r;
}

Statement &Inventory::filtered(std::array<Statement, 8> &cache, unsigned mask, bool listing)
{
	Statement &s = cache[mask];
	if (!s.ok()) {
		std::string sql = listing ? "SELECT " FLEET_AP_COLUMNS " FROM ap" + filter_clause(mask) +
						    " ORDER BY id LIMIT ?4 OFFSET ?5"
					  : "SELECT count(*) FROM ap" + filter_clause(mask);
		s = Statement(db_.get(), sql);
	}
	return s;
}

std::vector<ApRecord> Inventory::list(const ApFilter &filter)
{
	Statement &s = filtered(listings_, filter_mask(filter), true);
	bind_filter(s, filter);
	s.bind(4, filter.limit).bind(5, filter.offset);
	std::vector<ApRecord> out;
	// Room for the whole page at once: a listing of every AP is large.
	int64_t rows = filter.limit >= 0 ? std::min<int64_t>(filter.limit, kReservedPage) : count(filter) - filter.offset;
	out.reserve(static_cast<size_t>(std::max<int64_t>(rows, 0)));
	while (s.step() == SQLITE_ROW)
		read_record(s, false, out.emplace_back());
	s.reset();
	return out;
}

std::vector<Event> Inventory::history(const std::string &id, int64_t limit)
{
	history_.bind(1, std::string_view(id)).bind(2, limit);
	std::vector<Event> out;
	while (history_.step() == SQLITE_ROW)
		out.push_back({history_.integer(0), history_.text(1), history_.integer(2), history_.text(3), history_.text(4)});
	history_.reset();
	return out;
}

int64_t Inventory::count(const ApFilter &filter)
{
	Statement &s = filtered(counts_, filter_mask(filter), false);
	bind_filter(s, filter);
	int64_t n = s.step() == SQLITE_ROW ? s.integer(0) : 0;
	s.reset();
	return n;
}

int64_t Inventory::count()
{
	int64_t n = count_.step() == SQLITE_ROW ? count_.integer(0) : 0;
	count_.reset();
	return n;
}

bool Inventory::add_events(const std::string &id, const std::vector<EventNote> &events)
{
	int64_t at = now();
	for (const EventNote &e : events) {
		event_.bind(1, std::string_view(id)).bind(2, at).bind(3, std::string_view(e.kind)).bind(4, std::string_view(e.detail));
		if (!event_.run_once())
			return false;
	}
	if (events.empty())
		return true;
	trim_.bind(1, std::string_view(id)).bind(2, kMaxEventsPerAp);
	return trim_.run_once();
}

bool Inventory::save_join(const JoinInfo &j, const std::string &site, ApState state, const std::vector<EventNote> &events)
{
	Transaction tx(db_.get());
	if (!tx.begun())
		return false;
	join_.bind(1, std::string_view(j.id)).bind(2, std::string_view(site));
	join_.bind(4, std::string_view(j.fw_version)).bind(5, std::string_view(j.fw_revision));
	join_.bind(6, std::string_view(j.model)).bind(7, std::string_view(j.serial));
	join_.bind(8, j.ip).bind(9, j.mac).bind(10, j.hostname);
	join_.bind(12, state_name(state)).bind(13, now());
	join_detail_.bind(1, std::string_view(j.id)).bind(2, std::string_view(j.cert)).bind(3, j.custom_config);
	return join_.run_once() && join_detail_.run_once() && add_events(j.id, events) && tx.commit();
}

bool Inventory::save_presence(const PresenceInfo &p, const std::string &site, ApState state,
			      const std::vector<EventNote> &events)
{
	Transaction tx(db_.get());
	if (!tx.begun())
		return false;
	presence_.bind(1, std::string_view(p.id)).bind(2, std::string_view(site));
	presence_.bind(3, p.fw_version).bind(4, p.fw_revision).bind(5, p.model).bind(6, p.serial);
	presence_.bind(7, p.ip).bind(8, p.mac).bind(9, p.hostname);
	presence_.bind(10, state_name(state)).bind(11, int64_t{p.online ? 1 : 0}).bind(12, now());
	presence_indexed_.bind(1, std::string_view(p.id)).bind(2, p.model).bind(3, p.serial).bind(4, p.mac);
	presence_indexed_.bind(5, state_name(state));
	return presence_.run_once() && presence_indexed_.run_once() && add_events(p.id, events) && tx.commit();
}

bool Inventory::set_state(const std::string &id, ApState state, const EventNote &event)
{
	Transaction tx(db_.get());
	if (!tx.begun())
		return false;
	state_.bind(1, std::string_view(id)).bind(2, state_name(state));
	return state_.run_once() && add_events(id, {event}) && tx.commit();
}

bool Inventory::note(const std::string &id, const EventNote &event)
{
	Transaction tx(db_.get());
	return tx.begun() && add_events(id, {event}) && tx.commit();
}

bool Inventory::forget(const std::string &id, const EventNote &event)
{
	Transaction tx(db_.get());
	if (!tx.begun())
		return false;
	forget_.bind(1, std::string_view(id));
	forget_detail_.bind(1, std::string_view(id));
	return forget_.run_once() && forget_detail_.run_once() && add_events(id, {event}) && tx.commit();
}

bool Inventory::allow(AllowKind kind, const std::string &value, const std::string &site)
{
	Transaction tx(db_.get());
	if (!tx.begun())
		return false;
	allow_.bind(1, std::string_view(kind == AllowKind::serial ? "serial" : "mac")).bind(2, std::string_view(value));
	allow_.bind(3, std::string_view(site)).bind(4, now());
	return allow_.run_once() && tx.commit();
}

std::optional<std::string> Inventory::allowed_site(const std::string &serial, const std::string &mac)
{
	allowed_.bind(1, std::string_view(serial)).bind(2, std::string_view(mac));
	std::optional<std::string> site;
	if (allowed_.step() == SQLITE_ROW)
		site = allowed_.text(0);
	allowed_.reset();
	return site;
}

} // namespace fleet
