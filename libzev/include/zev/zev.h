/* The device library: everything it exports. */
#ifndef ZEV_H
#define ZEV_H

#include "devinfo.h"
#include "factory.h"
#include "md5.h"
#include "ring.h"
#include "util.h"
#include "wifi.h"

#endif
