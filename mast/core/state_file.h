// Small state files replaced whole: written to a temporary file beside the
// target, every write and the close checked, then renamed over it, so a
// reader sees either the old content or the new, never a part.
#pragma once

#include <string>
#include <string_view>

namespace mast {

// path is a device path (resolved under the device root); its directory is
// made when missing. False, with the
// old file untouched and no temporary left, when any step fails.
[[nodiscard]] bool replace_file(const std::string &path, std::string_view content);

} // namespace mast
