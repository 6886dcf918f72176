// libswconfig: switch attributes.
// The platform's C headers carry no C++ linkage guards; C++ code includes
// them only through this header.
#pragma once

#include "system.h"
#include <net/if.h>

extern "C" {
#include <swlib.h>
}
