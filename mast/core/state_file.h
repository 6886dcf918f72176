// Small state files replaced whole: written to a temporary file beside the
// target, every write and the close checked, then renamed over it, so a
// reader sees either the old content or the new, never a part.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace mast {

// path is a device path (resolved under the device root); its directory is
// made when missing. False, with the
// old file untouched and no temporary left, when any step fails.
// opened, when given, runs once the temporary file is open, before anything
// is written.
[[nodiscard]] bool replace_file(const std::string &path, std::string_view content,
				const std::function<void()> &opened = {});

} // namespace mast
