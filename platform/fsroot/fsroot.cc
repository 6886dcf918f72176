// Resolution of absolute paths under the optional device root.
#include <fsroot/fsroot.h>

#include <cstdlib>

namespace wlc {

namespace {

std::string read_root()
{
	const char *root = std::getenv("WLC_ROOT");
	std::string r = root ? root : "";
	while (r.size() > 1 && r.back() == '/')
		r.pop_back();
	if (r == "/")
		r.clear();
	return r;
}

std::string &cached_root()
{
	static std::string root = read_root();
	return root;
}

} // namespace

const std::string &fs_root()
{
	return cached_root();
}

void reload_fs_root()
{
	cached_root() = read_root();
}

std::string root_path(std::string_view path)
{
	const std::string &root = fs_root();
	if (root.empty() || path.empty() || path.front() != '/')
		return std::string(path);
	std::string out = root;
	out += path;
	return out;
}

} // namespace wlc
