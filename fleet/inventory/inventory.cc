// The AP inventory.
#include "inventory.h"

#include "ap_table.h"

#include "common/clock.h"

#include <algorithm>
#include <array>

namespace fleet {

namespace {

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
constexpr const char *kRow = "SELECT " FLEET_AP_COLUMNS " FROM ap WHERE ap.id = ?1";
constexpr const char *kAll = "SELECT " FLEET_AP_COLUMNS " FROM ap ORDER BY ap.id";
// Changes when another connection commits to the file.
constexpr const char *kDataVersion = "PRAGMA data_version";
constexpr const char *kAllow = "INSERT INTO allowed(kind, value, site, added) VALUES (?1, ?2, ?3, ?4) "
			       "ON CONFLICT(kind, value) DO UPDATE SET site = ?3";
constexpr const char *kAllowed = "SELECT site FROM allowed WHERE (kind = 'serial' AND value = ?1 AND ?1 != '') OR "
				 "(kind = 'mac' AND value = lower(?2) AND ?2 != '') ORDER BY kind DESC LIMIT 1";

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

struct Inventory::Listing {
	ApTable table;
	// The table may differ from the file: read it whole before it is used.
	bool stale = true;
	// The file's data_version when the table was read.
	int64_t data_version = -1;
};

namespace {

// A rolled back transaction may have taken changes already held in memory
// (those of a batch whose commit failed): the rows are read again.
void on_rollback(void *stale) noexcept
{
	*static_cast<bool *>(stale) = true;
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
	: listing_(std::make_unique<Listing>()), db_(std::move(db)),
	  clock_(clock ? std::move(clock) : Clock(system_seconds)), find_(db_.get(), kFind), join_(db_.get(), kJoin),
	  join_detail_(db_.get(), kJoinDetail), presence_(db_.get(), kPresence),
	  presence_indexed_(db_.get(), kPresenceIndexed), state_(db_.get(), kState), forget_(db_.get(), kForget),
	  forget_detail_(db_.get(), kForgetDetail), event_(db_.get(), kEvent), history_(db_.get(), kHistory),
	  trim_(db_.get(), kTrim), allow_(db_.get(), kAllow), allowed_(db_.get(), kAllowed), row_(db_.get(), kRow),
	  all_(db_.get(), kAll), data_version_(db_.get(), kDataVersion)
{
	sqlite3_rollback_hook(db_.get(), on_rollback, &listing_->stale);
	(void)listed();
}

Inventory::~Inventory() = default;
Inventory::Inventory(Inventory &&) noexcept = default;

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

const ApTable &Inventory::listed()
{
	int64_t version = data_version_.step() == SQLITE_ROW ? data_version_.integer(0) : -1;
	data_version_.reset();
	if (listing_->stale || version < 0 || version != listing_->data_version)
		reload(version);
	return listing_->table;
}

void Inventory::reload(int64_t data_version)
{
	ApTable &table = listing_->table;
	table.clear();
	ApRecord r;
	int rc;
	while ((rc = all_.step()) == SQLITE_ROW) {
		read_record(all_, false, r);
		table.put(r);
	}
	all_.reset();
	listing_->stale = rc != SQLITE_DONE;
	listing_->data_version = data_version;
}

void Inventory::sync(const std::string &id)
{
	if (listing_->stale)
		return; // read whole before the next listing
	row_.bind(1, std::string_view(id));
	int rc = row_.step();
	if (rc == SQLITE_ROW) {
		ApRecord r;
		read_record(row_, false, r);
		listing_->table.put(r);
	} else if (rc == SQLITE_DONE) {
		listing_->table.erase(id);
	} else {
		listing_->stale = true;
	}
	row_.reset();
}

std::vector<ApRecord> Inventory::list(const ApFilter &filter)
{
	return listed().list(filter);
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
	return listed().count(filter);
}

int64_t Inventory::count()
{
	return static_cast<int64_t>(listed().size());
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
	bool ok = join_.run_once() && join_detail_.run_once() && add_events(j.id, events) && tx.commit();
	if (ok)
		sync(j.id);
	return ok;
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
	bool ok = presence_.run_once() && presence_indexed_.run_once() && add_events(p.id, events) && tx.commit();
	if (ok)
		sync(p.id);
	return ok;
}

bool Inventory::set_state(const std::string &id, ApState state, const EventNote &event)
{
	Transaction tx(db_.get());
	if (!tx.begun())
		return false;
	state_.bind(1, std::string_view(id)).bind(2, state_name(state));
	bool ok = state_.run_once() && add_events(id, {event}) && tx.commit();
	if (ok)
		sync(id);
	return ok;
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
	bool ok = forget_.run_once() && forget_detail_.run_once() && add_events(id, {event}) && tx.commit();
	if (ok)
		sync(id);
	return ok;
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
