// libubus: the bus client and the wire definitions it shares with the daemon.
// The platform's C headers carry no C++ linkage guards; C++ code includes
// them only through this header.
#pragma once

#include "system.h"

extern "C" {
#include <libubus.h>
#include <ubusmsg.h>
#include <ubus_common.h>
}
