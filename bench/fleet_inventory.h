// Inventories of made-up APs for the fleet benchmarks, written by fleetd's
// own store code so that the schema is always the one fleetd reads.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace fleetbench {

// The size of the main job's AP certificates (PEM, from broker/site-ca.sh).
inline const std::string kCert(619, 'C');

struct InventoryAp {
	std::string id, site, model, serial, mac, hostname;
	std::string state; // "pending", "offline", "adopted", ...
};

// Creates the inventory at path with count APs (ap_of(n) for each), in one
// transaction: each adopted one online, each with a certificate of kCert's
// size, and the events named (kinds, in order) in its history. False, with a
// line on standard error, when any of it fails.
bool write_inventory(const std::string &path, size_t count, const std::function<InventoryAp(size_t)> &ap_of,
		     const std::vector<std::string> &events = {});

} // namespace fleetbench
