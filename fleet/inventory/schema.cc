// The inventory's schema and its migrations.
#include "schema.h"

#include <array>
#include <string>

#include "sqlite.h"

namespace fleet {

namespace {

// Version 1: the APs and their history.
constexpr const char *kVersion1 = R"(
CREATE TABLE ap(
  id TEXT PRIMARY KEY NOT NULL,
  site TEXT NOT NULL,
  model TEXT NOT NULL DEFAULT '',
  serial TEXT NOT NULL DEFAULT '',
  mac TEXT NOT NULL DEFAULT '',
  cert TEXT NOT NULL DEFAULT '',
  fw_version TEXT NOT NULL DEFAULT '',
  fw_revision TEXT NOT NULL DEFAULT '',
  ip TEXT NOT NULL DEFAULT '',
  hostname TEXT NOT NULL DEFAULT '',
  custom_config TEXT NOT NULL DEFAULT '{}',
  state TEXT NOT NULL CHECK (state IN ('pending', 'approved', 'adopted', 'offline', 'refused')),
  online INTEGER NOT NULL DEFAULT 0,
  first_seen INTEGER NOT NULL,
  last_seen INTEGER NOT NULL
);
CREATE INDEX ap_site_state ON ap(site, state);
CREATE INDEX ap_model ON ap(model);
CREATE TABLE event(
  seq INTEGER PRIMARY KEY AUTOINCREMENT,
  ap TEXT NOT NULL,
  at INTEGER NOT NULL,
  kind TEXT NOT NULL,
  detail TEXT NOT NULL DEFAULT ''
);
CREATE INDEX event_ap ON event(ap, seq);
)";

// Version 2: serials and MACs registered for approval, with the site an AP
// that matches one joins.
constexpr const char *kVersion2 = R"(
CREATE TABLE allowed(
  kind TEXT NOT NULL CHECK (kind IN ('serial', 'mac')),
  value TEXT NOT NULL,
  site TEXT NOT NULL,
  added INTEGER NOT NULL,
  PRIMARY KEY (kind, value)
);
CREATE INDEX ap_serial ON ap(serial);
CREATE INDEX ap_mac ON ap(mac);
)";

// Version 5: the filtered listings (a site's APs in a state, a model's, all
// APs in a state) read their page in identifier order straight from an
// index, instead of sorting every matching row first.
constexpr const char *kVersion5 = R"(
DROP INDEX ap_site_state;
DROP INDEX ap_model;
CREATE INDEX ap_site_state_id ON ap(site, state, id);
CREATE INDEX ap_model_id ON ap(model, id);
CREATE INDEX ap_state_id ON ap(state, id);
)";

constexpr std::array<Migration, 3> kMigrations = {{{1, kVersion1}, {2, kVersion2}, {5, kVersion5}}};

bool run_step(sqlite3 *db, const Migration &m)
{
	Transaction tx(db);
	if (!tx.begun() || !exec(db, m.sql))
		return false;
	if (m.version == 1 && !exec(db, ("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str()))
		return false;
	if (!exec(db, ("PRAGMA user_version = " + std::to_string(m.version)).c_str()))
		return false;
	return tx.commit();
}

} // namespace

std::span<const Migration> migrations()
{
	return kMigrations;
}

int latest_schema_version()
{
	return kMigrations.back().version;
}

bool migrate(sqlite3 *db, int from_version)
{
	for (const Migration &m : kMigrations) {
		if (m.version > from_version && !run_step(db, m))
			return false;
	}
	return true;
}

} // namespace fleet
