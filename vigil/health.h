// The "health" method: CPU, storage, memory and temperature.
#pragma once

#include <wlc/bus.h>

#include "cpu_sampler.h"

namespace vigil {

// Fills the reply; false when the memory or temperature reading fails.
[[nodiscard]] bool collect_health(const CpuSampler &cpu, wlc::BlobBuf &reply);

int health_method(const CpuSampler &cpu, wlc::Request &req);

} // namespace vigil
