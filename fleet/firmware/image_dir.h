// The directory of firmware images that the controller's web server
// serves: an image is named by its path inside it, and nothing outside it
// (through "..", an absolute path or a symbolic link) is ever offered.
#pragma once

#include <string>
#include <string_view>

namespace fleet {

struct ImageCheck {
	std::string path;  // inside the directory, as the web server serves it
	std::string error; // why it is refused; empty when path holds it
};

// dir: the directory, already resolved under the device root; rel: the
// image's path inside it, without a leading slash.
[[nodiscard]] ImageCheck check_image(const std::string &dir, std::string_view rel);

} // namespace fleet
