// The identity caches' reset: not part of the library's interface (the
// shared library does not export it). A process that plays several devices in
// turn, as the library's tests do, empties the caches before each one.
#pragma once

namespace zev::devinfo {

// The next calls read the device's identity again.
void forget_cached();

} // namespace zev::devinfo
