// "radio_acs": automatic channel selection for one radio.
#pragma once

#include <wlc/bus.h>

#include "scan.h"

namespace vigil {

int radio_acs_method(JobList &jobs, wlc::Request &req, blob_attr *msg);

} // namespace vigil
