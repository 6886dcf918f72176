// The private device root of a fuzzing process.
#include "fuzz_root.h"

#include <fsroot/fsroot.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace wlcfuzz {

namespace {

std::string &root_dir()
{
	static std::string dir;
	return dir;
}

void remove_root() noexcept
{
	std::error_code ec;
	std::filesystem::remove_all(root_dir(), ec);
}

std::string make_root()
{
	const char *tmp = std::getenv("TMPDIR");
	std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/wlcfuzz-XXXXXX";
	std::vector<char> name(pattern.begin(), pattern.end());
	name.push_back('\0');
	if (!mkdtemp(name.data())) {
		std::perror("mkdtemp");
		std::abort();
	}
	root_dir() = name.data();
	std::atexit(remove_root);
	setenv("WLC_ROOT", root_dir().c_str(), 1);
	wlc::reload_fs_root();
	return root_dir();
}

} // namespace

const std::string &private_root()
{
	static const std::string root = make_root();
	return root;
}

void put_device_file(const std::string &path, const uint8_t *data, size_t size)
{
	std::filesystem::path file = private_root() + path;
	std::error_code ec;
	std::filesystem::create_directories(file.parent_path(), ec);
	std::ofstream out(file, std::ios::binary | std::ios::trunc);
	out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
	out.close();
	if (!out) {
		std::fprintf(stderr, "cannot write %s\n", file.c_str());
		std::abort();
	}
}

} // namespace wlcfuzz
