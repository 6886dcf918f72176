// libblobmsg_json: JSON rendering and loading of blobmsg tables.
// The platform's C headers carry no C++ linkage guards; C++ code includes
// them only through this header.
#pragma once

#include "system.h"
#include <json-c/json.h>

extern "C" {
#include <libubox/blobmsg_json.h>
}
