// Replacing state files.
#include "state_file.h"

#include <fsroot/fsroot.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fcntl.h>
#include <unistd.h>

namespace mast {

namespace {

bool write_all(int fd, std::string_view content)
{
	size_t done = 0;
	while (done < content.size()) {
		ssize_t n = write(fd, content.data() + done, content.size() - done);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return false;
		done += static_cast<size_t>(n);
	}
	return true;
}

} // namespace

bool replace_file(const std::string &path, std::string_view content, const std::function<void()> &opened)
{
	std::string target = wlc::root_path(path);
	std::string tmp = target + ".tmp";
	// The state directory is made on first use (a fresh device has none).
	std::error_code ec;
	std::filesystem::create_directories(std::filesystem::path(target).parent_path(), ec);
	int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
	if (fd < 0)
		return false;
	if (opened)
		opened();
	bool ok = write_all(fd, content) && fsync(fd) == 0;
	ok = close(fd) == 0 && ok;
	if (ok && rename(tmp.c_str(), target.c_str()) == 0)
		return true;
	unlink(tmp.c_str());
	return false;
}

} // namespace mast
