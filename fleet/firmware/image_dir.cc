// Firmware images inside their directory.
#include "image_dir.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fleet {

namespace {

constexpr size_t kMaxImagePath = 200;

bool path_char(char c)
{
	return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
	       c == '-' || c == '/';
}

// Empty when the text could name a file inside the directory.
std::string bad_form(std::string_view rel)
{
	if (rel.empty() || rel.size() > kMaxImagePath)
		return "the image path must be 1 to 200 characters";
	if (!std::all_of(rel.begin(), rel.end(), path_char))
		return "the image path may hold only letters, digits, '.', '_', '-' and '/'";
	if (rel.front() == '/')
		return "the image path must be inside the image directory, without a leading '/'";
	for (const auto &part : std::filesystem::path(rel))
		if (part == "..")
			return "the image path must not leave the image directory ('..')";
	return "";
}

} // namespace

ImageCheck check_image(const std::string &dir, std::string_view rel)
{
	ImageCheck c;
	c.error = bad_form(rel);
	if (!c.error.empty())
		return c;
	namespace fs = std::filesystem;
	std::error_code ec;
	fs::path base = fs::canonical(dir, ec);
	if (ec) {
		c.error = "the image directory cannot be read";
		return c;
	}
	fs::path file = fs::canonical(base / fs::path(rel), ec);
	if (ec) {
		c.error = "no image " + std::string(rel) + " in the image directory";
		return c;
	}
	std::string b = base.string() + "/", f = file.string();
	if (f.compare(0, b.size(), b) != 0) {
		c.error = "the image " + std::string(rel) + " lies outside the image directory";
		return c;
	}
	if (!fs::is_regular_file(file, ec)) {
		c.error = "the image " + std::string(rel) + " is not a file";
		return c;
	}
	c.path = f.substr(b.size());
	return c;
}

} // namespace fleet
