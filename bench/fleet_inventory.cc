#include "fleet_inventory.h"

#include <sqlite3.h>

#include <cstdio>
#include <optional>

#include "inventory/store.h"

namespace fleetbench {

namespace {

bool populate(sqlite3 *db, size_t count, const std::function<InventoryAp(size_t)> &ap_of,
	      const std::vector<std::string> &events)
{
	fleet::Transaction tx(db);
	fleet::Statement ap(db, "INSERT INTO ap(id, site, model, serial, mac, fw_version, fw_revision, ip, hostname, "
				"state, online, first_seen, last_seen) VALUES "
				"(?1, ?2, ?3, ?4, ?5, '23.05.2', 'r42-abc', '10.0.0.2/24', ?6, ?7, ?8, 1700000000, 1700000000)");
	fleet::Statement detail(db, "INSERT INTO ap_detail(id, cert, custom_config) VALUES (?1, ?2, '{\"ssid\":\"office\"}')");
	fleet::Statement event(db, "INSERT INTO event(ap, at, kind, detail) VALUES (?1, 1700000000, ?2, '')");
	if (!tx.begun() || !ap.ok() || !detail.ok() || !event.ok())
		return false;
	for (size_t n = 0; n < count; n++) {
		InventoryAp a = ap_of(n);
		ap.bind(1, std::string_view(a.id)).bind(2, std::string_view(a.site)).bind(3, std::string_view(a.model));
		ap.bind(4, std::string_view(a.serial)).bind(5, std::string_view(a.mac));
		ap.bind(6, std::string_view(a.hostname)).bind(7, std::string_view(a.state));
		ap.bind(8, int64_t{a.state == "adopted"});
		detail.bind(1, std::string_view(a.id)).bind(2, std::string_view(kCert));
		bool ok = ap.run_once() && detail.run_once();
		for (const std::string &kind : events) {
			event.bind(1, std::string_view(a.id)).bind(2, std::string_view(kind));
			ok = ok && event.run_once();
		}
		if (!ok)
			return false;
	}
	return tx.commit();
}

} // namespace

bool write_inventory(const std::string &path, size_t count, const std::function<InventoryAp(size_t)> &ap_of,
		     const std::vector<std::string> &events)
{
	std::string error;
	std::optional<fleet::OpenedStore> store = fleet::open_store(path, error);
	if (!store || !populate(store->db.get(), count, ap_of, events)) {
		std::fprintf(stderr, "cannot fill %s: %s\n", path.c_str(),
			     error.empty() && store ? sqlite3_errmsg(store->db.get()) : error.c_str());
		return false;
	}
	return true;
}

} // namespace fleetbench
