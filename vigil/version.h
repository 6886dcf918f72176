// The "version" and "boot_slot" methods: board, identity and firmware slots.
#pragma once

#include <wlc/bus.h>

namespace vigil {

int version_method(wlc::Bus &bus, wlc::Request &req);
int boot_slot_method(wlc::Request &req);

} // namespace vigil
