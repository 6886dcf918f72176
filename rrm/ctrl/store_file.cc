// The report store's files: one per AP and kind. A history file is a row of
// blob attributes at 4-byte boundaries, each a table with "reports" (entries
// newest first): the first holds the whole history as it was when the file
// was last written whole (through a temporary file), each further one a single
// report appended after it. A file of one table is what a whole write makes,
// and what earlier versions of the store always wrote.
#include "store.h"

#include <fsroot/fsroot.h>
#include <wlc/log.h>
#include <wlc/loop.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>

namespace rrm {

namespace fs = std::filesystem;

namespace {

size_t padded(size_t n)
{
	return (n + 3) & ~size_t(3);
}

// The bytes a table takes in the file, padding included.
size_t file_len(const blob_attr *head)
{
	return padded(blob_raw_len(head));
}

// One table of the file in buf: the newest entries, newest first, as many of
// the first n as fit in max_file_bytes (the newest is always tried). Each is
// encoded once: one that does not fit is taken back out. When not all fit,
// only those within half the limit are kept, so that the next reports are
// appended rather than each rewriting the file whole. Returns how many.
uint64_t build_table(wlc::BlobBuf &buf, const History &h, uint64_t n)
{
	buf.reset();
	auto reports = buf.array("reports");
	// The array's length after each entry; it is the table's one member, after its 4-byte header.
	std::array<unsigned int, 64> ends{};
	auto bytes = [](unsigned int array_len) { return sizeof(blob_attr) + padded(array_len); };
	uint64_t written = 0;
	for (; written < n; written++) {
		unsigned int before = blob_raw_len(buf.head()); // the open array
		{
			auto entry = buf.table();
			buf.add_u64("ts", static_cast<uint64_t>(h.time(written)));
			auto data = buf.table("data");
			h.encode(written, buf);
		}
		if (written > 0 && bytes(blob_raw_len(buf.head())) > max_file_bytes) {
			blob_set_raw_len(buf.head(), before);
			break;
		}
		unsigned int end = blob_raw_len(buf.head());
		ends[std::min<size_t>(written, ends.size() - 1)] = end;
		// Reports of one kind are of similar size: once they will not all
		// fit, stop before the next would pass half the limit.
		size_t next = end + end / (written + 1);
		if (bytes(end) * n > max_file_bytes * (written + 1) && bytes(next) > max_file_bytes / 2) {
			written++;
			break;
		}
	}
	if (written < n) {
		while (written > 1 && (written > ends.size() || bytes(ends[written - 1]) > max_file_bytes / 2))
			written--;
		blob_set_raw_len(buf.head(), ends[written - 1]);
	}
	reports.close();
	return written;
}

bool write_at(int fd, const void *data, size_t len, off_t at)
{
	const char *p = static_cast<const char *>(data);
	while (len > 0) {
		ssize_t w = pwrite(fd, p, len, at);
		if (w <= 0)
			return false;
		p += w;
		len -= static_cast<size_t>(w);
		at += w;
	}
	return true;
}

// Writes the table and the zero bytes that pad it, at the given offset.
bool write_table(int fd, const blob_attr *head, off_t at)
{
	static const char zeros[4] = {};
	size_t raw = blob_raw_len(head);
	return write_at(fd, head, raw, at) && write_at(fd, zeros, file_len(head) - raw, at + static_cast<off_t>(raw));
}

bool write_new(const std::string &path, const blob_attr *head)
{
	wlc::UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
	return fd && write_table(fd.get(), head, 0) && close(fd.release()) == 0;
}

// Appends a table to a file that must still be `size` bytes long, as this
// process last left it; a failed write is cut off again so that no damaged
// table is left in front of later ones.
bool append_table(const std::string &path, uint64_t size, const blob_attr *head)
{
	wlc::UniqueFd fd(open(path.c_str(), O_WRONLY | O_CLOEXEC));
	struct stat st;
	if (!fd || fstat(fd.get(), &st) != 0 || static_cast<uint64_t>(st.st_size) != size)
		return false;
	if (write_table(fd.get(), head, static_cast<off_t>(padded(size))) && close(fd.release()) == 0)
		return true;
	if (fd)
		(void)ftruncate(fd.get(), static_cast<off_t>(size));
	return false;
}

} // namespace

std::string ReportStore::file_path(const std::string &id, Kind k) const
{
	return wlc::root_path(dir_ + "/" + id + "/" + kind_name(k) + ".blob");
}

// Appends the newest report when the file is as this process left it, there is
// room under the load limit, and fewer than a history's worth of reports were
// appended since the last whole write; otherwise writes the file whole.
void ReportStore::save(const std::string &id, Kind k, ApRecord &ap) const
{
	FileState &f = ap.files[k];
	const History &h = *ap.histories[k];
	if (f.known && !h.empty() && f.appended + 1 < history_length_) {
		wlc::BlobBuf &buf = file_buf_;
		build_table(buf, h, 1);
		uint64_t size = padded(f.bytes) + file_len(buf.head());
		if (size <= max_file_bytes && append_table(file_path(id, k), f.bytes, buf.head())) {
			f.bytes = size;
			f.appended++;
			return;
		}
	}
	save_whole(id, k, ap);
}

void ReportStore::save_whole(const std::string &id, Kind k, ApRecord &ap) const
{
	FileState &f = ap.files[k];
	const History &h = *ap.histories[k];
	f = {};
	std::string path = file_path(id, k);
	if (h.empty()) {
		unlink(path.c_str());
		return;
	}
	std::error_code ec;
	fs::create_directories(wlc::root_path(dir_ + "/" + id), ec);
	// Only what the loader accepts is written: the oldest entries give way.
	wlc::BlobBuf &buf = file_buf_;
	build_table(buf, h, h.count());
	if (file_len(buf.head()) > max_file_bytes)
		return;
	std::string tmp = path + ".tmp";
	if (!write_new(tmp, buf.head()) || rename(tmp.c_str(), path.c_str()) != 0) {
		wlc::logf(LOG_WARNING, "failed to write %s", path.c_str());
		unlink(tmp.c_str());
		return;
	}
	f = {file_len(buf.head()), 0, true};
}

// Forgets the AP silent longest, other than keep.
void ReportStore::evict_oldest(const char *why, const std::string &keep)
{
	auto oldest = aps_.end();
	for (auto it = aps_.begin(); it != aps_.end(); ++it)
		if (it->first != keep && (oldest == aps_.end() || it->second.last_seen < oldest->second.last_seen))
			oldest = it;
	if (oldest == aps_.end())
		return;
	wlc::logf(LOG_NOTICE, "%s, forget %s", why, oldest->first.c_str());
	forget(oldest);
}

void ReportStore::forget(std::map<std::string, ApRecord>::iterator it)
{
	std::error_code ec;
	fs::remove_all(wlc::root_path(dir_ + "/" + it->first), ec);
	bytes_ -= std::min(bytes_, ap_memory(it->first, it->second));
	aps_.erase(it);
}

} // namespace rrm
