// libubox: lists, blob and blobmsg buffers, event loop, descriptor streams, kvlist.
// The platform's C headers carry no C++ linkage guards; C++ code includes
// them only through this header.
#pragma once

#include "system.h"

extern "C" {
#include <libubox/list.h>
#include <libubox/utils.h>
#include <libubox/blob.h>
#include <libubox/blobmsg.h>
#include <libubox/uloop.h>
#include <libubox/ustream.h>
#include <libubox/kvlist.h>
}
