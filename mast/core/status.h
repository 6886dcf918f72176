// The "mast" status object: role, state, description and peers of the daemon.
#pragma once

#include <wlc/bus.h>

#include <string>
#include <vector>

#include "options.h"

namespace mast {

class Status {
public:
	explicit Status(Role role);

	// Registers the object; the bus status of the registration.
	int add(wlc::Bus &bus) { return object_.add(bus); }
	void remove() { object_.remove(); }

	// Rebuilds the record. peers: the candidates or controller named by the state.
	void set(const std::string &status, const std::string &description,
		 const std::vector<BrokerAddress> &peers = {});

	const wlc::BlobBuf &record() const { return record_; }

private:
	Role role_;
	wlc::BlobBuf record_;
	wlc::BusObject object_;
};

} // namespace mast
