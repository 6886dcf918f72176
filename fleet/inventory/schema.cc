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

// Version 3: configuration documents per site, group and AP, every change
// kept under a version number drawn from one sequence (so a later change of
// anything that concerns an AP always has a higher number); the group of
// each AP; and what each AP was sent and confirmed.
constexpr const char *kVersion3 = R"(
CREATE TABLE config_change(
  version INTEGER PRIMARY KEY AUTOINCREMENT,
  scope TEXT NOT NULL CHECK (scope IN ('site', 'group', 'ap', 'member')),
  name TEXT NOT NULL,
  at INTEGER NOT NULL,
  author TEXT NOT NULL,
  reason TEXT NOT NULL DEFAULT '',
  config TEXT NOT NULL,
  draft INTEGER NOT NULL DEFAULT 0,
  not_before INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX config_change_scope ON config_change(scope, name, version);
CREATE TABLE config_head(
  scope TEXT NOT NULL,
  name TEXT NOT NULL,
  version INTEGER NOT NULL,
  PRIMARY KEY (scope, name)
);
CREATE TABLE ap_group(
  ap TEXT PRIMARY KEY NOT NULL,
  grp TEXT NOT NULL,
  version INTEGER NOT NULL
);
CREATE INDEX ap_group_grp ON ap_group(grp);
CREATE TABLE ap_config(
  ap TEXT PRIMARY KEY NOT NULL,
  sent INTEGER NOT NULL DEFAULT 0,
  sent_at INTEGER NOT NULL DEFAULT 0,
  applied INTEGER NOT NULL DEFAULT 0,
  applied_at INTEGER NOT NULL DEFAULT 0
);
)";

// Version 4: firmware images per model, the release the controller offers,
// and staged rollouts with the way of each AP through them.
constexpr const char *kVersion4 = R"(
CREATE TABLE fw_image(
  model TEXT PRIMARY KEY NOT NULL,
  path TEXT NOT NULL,
  set_at INTEGER NOT NULL,
  author TEXT NOT NULL
);
CREATE TABLE fw_release(
  id INTEGER PRIMARY KEY CHECK (id = 1),
  version TEXT NOT NULL,
  revision TEXT NOT NULL,
  set_at INTEGER NOT NULL
);
CREATE TABLE fw_rollout(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  site TEXT NOT NULL DEFAULT '',
  version TEXT NOT NULL,
  revision TEXT NOT NULL,
  prev_version TEXT NOT NULL DEFAULT '',
  prev_revision TEXT NOT NULL DEFAULT '',
  max_parallel INTEGER NOT NULL,
  max_failures INTEGER NOT NULL,
  timeout INTEGER NOT NULL,
  state TEXT NOT NULL CHECK (state IN ('running', 'finished', 'halted', 'stopped')),
  started INTEGER NOT NULL,
  ended INTEGER NOT NULL DEFAULT 0,
  author TEXT NOT NULL,
  note TEXT NOT NULL DEFAULT ''
);
CREATE TABLE fw_rollout_ap(
  rollout INTEGER NOT NULL,
  ap TEXT NOT NULL,
  model TEXT NOT NULL,
  state TEXT NOT NULL CHECK (state IN ('queued', 'offered', 'installing', 'done', 'failed')),
  since INTEGER NOT NULL,
  last_offer INTEGER NOT NULL DEFAULT 0,
  detail TEXT NOT NULL DEFAULT '',
  PRIMARY KEY (rollout, ap)
);
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

// Version 6: an AP's certificate and the custom configuration of its join,
// the large and seldom read fields, in a table of their own, and the APs'
// narrow rows kept in identifier order (no rowid), so that a listing reads
// them straight (50,000 APs with their certificates outgrow the page cache
// many times over, and a listing in identifier order went through the
// identifier index to every row).
constexpr const char *kVersion6 = R"(
CREATE TABLE ap_detail(
  id TEXT PRIMARY KEY NOT NULL,
  cert TEXT NOT NULL DEFAULT '',
  custom_config TEXT NOT NULL DEFAULT '{}'
) WITHOUT ROWID;
INSERT INTO ap_detail(id, cert, custom_config) SELECT id, cert, custom_config FROM ap;
CREATE TABLE ap_narrow(
  id TEXT PRIMARY KEY NOT NULL,
  site TEXT NOT NULL,
  model TEXT NOT NULL DEFAULT '',
  serial TEXT NOT NULL DEFAULT '',
  mac TEXT NOT NULL DEFAULT '',
  fw_version TEXT NOT NULL DEFAULT '',
  fw_revision TEXT NOT NULL DEFAULT '',
  ip TEXT NOT NULL DEFAULT '',
  hostname TEXT NOT NULL DEFAULT '',
  state TEXT NOT NULL CHECK (state IN ('pending', 'approved', 'adopted', 'offline', 'refused')),
  online INTEGER NOT NULL DEFAULT 0,
  first_seen INTEGER NOT NULL,
  last_seen INTEGER NOT NULL
) WITHOUT ROWID;
INSERT INTO ap_narrow(id, site, model, serial, mac, fw_version, fw_revision, ip, hostname, state, online, first_seen,
  last_seen)
  SELECT id, site, model, serial, mac, fw_version, fw_revision, ip, hostname, state, online, first_seen, last_seen FROM ap;
DROP TABLE ap;
ALTER TABLE ap_narrow RENAME TO ap;
CREATE INDEX ap_site_state_id ON ap(site, state, id);
CREATE INDEX ap_model_id ON ap(model, id);
CREATE INDEX ap_state_id ON ap(state, id);
CREATE INDEX ap_serial ON ap(serial);
CREATE INDEX ap_mac ON ap(mac);
)";

constexpr std::array<Migration, 6> kMigrations = {
	{{1, kVersion1}, {2, kVersion2}, {3, kVersion3}, {4, kVersion4}, {5, kVersion5}, {6, kVersion6}}};

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
