// Resolution of absolute paths under the optional device root.
#include <fsroot/fsroot.h>

#include <cstdlib>

namespace wlc {

namespace {

// The root named by the environment: host builds only, and never for a
// secure-execution process (setuid, setgid, file capabilities), whose
// environment belongs to the user who started it.
const char *root_from_environment()
{
#ifdef WLC_ENV_REDIRECTS
	return secure_getenv("WLC_ROOT");
#else
	return nullptr;
#endif
}

std::string read_root()
{
	const char *root = root_from_environment();
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
