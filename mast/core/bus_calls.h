// Calls to local bus objects whose replies nobody waits for.
#pragma once

#include <wlc/bus.h>

#include <string>

namespace mast {

// Invokes the method of the object at path (looked up now) and forgets it;
// false when the object is not there. Unanswered calls are dropped after a minute.
bool call_nowait(wlc::Bus &bus, const std::string &path, const std::string &method, const wlc::BlobBuf &msg);
bool call_nowait(wlc::Bus &bus, uint32_t id, const std::string &method, const wlc::BlobBuf &msg);

size_t calls_in_flight();

} // namespace mast
