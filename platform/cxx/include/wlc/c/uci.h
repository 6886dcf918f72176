// libuci: configuration lookups.
// The platform's C headers carry no C++ linkage guards; C++ code includes
// them only through this header.
#pragma once

#include "system.h"

extern "C" {
#include <uci.h>
}
