// The main loop shared by the platform service stand-ins: connect to the bus
// (-s <socket> or the default), register the object, serve until stopped or
// until the bus goes away.
#pragma once

#include <wlc/bus.h>

#include <vector>

namespace sim {

int run_service(const char *ident, int argc, char **argv, wlc::BusObject &object);
// The same with several objects.
int run_service(const char *ident, int argc, char **argv, const std::vector<wlc::BusObject *> &objects);

} // namespace sim
