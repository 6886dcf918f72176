// Calls to local bus objects whose replies nobody waits for.
#pragma once

#include <wlc/bus.h>

#include <functional>
#include <string>

namespace mast {

// Invokes the method of the object at path and forgets it; false when the
// object is not there. The path's id is kept from the last look-up: a call
// that finds the object gone is made again once the path is looked up anew
// (dropped when it is absent then, and absent is called if given).
// Unanswered calls are dropped after a minute.
bool call_nowait(wlc::Bus &bus, const std::string &path, const std::string &method, wlc::BlobBuf msg,
		 std::function<void()> absent = nullptr);
bool call_nowait(wlc::Bus &bus, uint32_t id, const std::string &method, const wlc::BlobBuf &msg);
// As above; done gets the call's final status (it is not called for a call
// dropped unanswered).
bool call_nowait(wlc::Bus &bus, uint32_t id, const std::string &method, const wlc::BlobBuf &msg,
		 std::function<void(int status)> done);

size_t calls_in_flight();

} // namespace mast
