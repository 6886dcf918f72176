// The report store's files: one per AP and kind, written whole through a
// temporary file, read back at start.
#include "store.h"

#include <fsroot/fsroot.h>
#include <wlc/log.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace rrm {

namespace fs = std::filesystem;

namespace {

// The file's contents: the newest n entries, newest first.
void build_file(wlc::BlobBuf &buf, const History &h, uint64_t n)
{
	buf.reset();
	auto reports = buf.array("reports");
	for (uint64_t i = 0; i < n; i++) {
		History::Entry e = h.newest(i);
		auto entry = buf.table();
		buf.add_u64("ts", static_cast<uint64_t>(e.ts));
		auto data = buf.table("data");
		encode_record(buf, *e.record);
	}
}

size_t padded_payload(const blob_attr *head)
{
	return (blob_raw_len(head) - sizeof(blob_attr) + 3) & ~size_t(3);
}

bool write_all(const std::string &path, const void *data, size_t len)
{
	int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
	if (fd < 0)
		return false;
	const char *p = static_cast<const char *>(data);
	bool ok = true;
	while (ok && len > 0) {
		ssize_t w = write(fd, p, len);
		ok = w > 0;
		if (ok) {
			p += w;
			len -= static_cast<size_t>(w);
		}
	}
	return close(fd) == 0 && ok;
}

// The payload of a history file, or nullopt when the file must be refused.
std::optional<std::vector<uint32_t>> read_file(const std::string &path)
{
	int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return std::nullopt;
	uint8_t hdr[4];
	std::optional<std::vector<uint32_t>> out;
	if (read(fd, hdr, 4) == 4) {
		size_t len = (size_t(hdr[1]) << 16) | (size_t(hdr[2]) << 8) | hdr[3];
		size_t payload = len >= 4 ? len - 4 : 0;
		if (len >= 4 && ((payload + 3) & ~size_t(3)) <= max_file_payload) {
			std::vector<uint32_t> words(1 + (payload + 3) / 4, 0);
			std::memcpy(words.data(), hdr, 4);
			if (static_cast<size_t>(read(fd, words.data() + 1, payload)) == payload)
				out = std::move(words);
		}
	}
	close(fd);
	return out;
}

struct Loaded {
	int64_t ts;
	std::unique_ptr<Record> record;
};

// The entries of a file, newest first; nullopt when it is not a history.
std::optional<std::vector<Loaded>> parse_file(Kind k, blob_attr *head, int64_t oldest)
{
	static const std::array<blobmsg_policy, 1> top = {{{"reports", BLOBMSG_TYPE_ARRAY}}};
	static const std::array<blobmsg_policy, 2> entry = {{{"ts", BLOBMSG_TYPE_INT64}, {"data", BLOBMSG_TYPE_TABLE}}};
	std::array<blob_attr *, 1> tb{};
	if (blobmsg_parse(top.data(), 1, tb.data(), blob_data(head), blob_len(head)) != 0 || !tb[0])
		return std::nullopt;
	std::vector<Loaded> out;
	blob_attr *pos;
	size_t rem;
	blobmsg_for_each_attr(pos, tb[0], rem) {
		if (blobmsg_type(pos) != BLOBMSG_TYPE_TABLE)
			continue;
		wlc::Fields<2> f;
		if (!f.parse(entry, pos) || !f.has(0) || !f.has(1))
			continue;
		auto ts = static_cast<int64_t>(*f.u64(0));
		std::unique_ptr<Record> r = decode_record(k, f[1]);
		if (r && ts >= oldest)
			out.push_back({ts, std::move(r)});
	}
	return out;
}

} // namespace

void ReportStore::save(const std::string &id, Kind k, const History &h) const
{
	std::string dir = wlc::root_path(dir_ + "/" + id);
	std::string path = dir + "/" + kind_name(k) + ".blob";
	if (h.empty()) {
		unlink(path.c_str());
		return;
	}
	std::error_code ec;
	fs::create_directories(dir, ec);
	// Only what the loader accepts is written: the oldest entries give way.
	wlc::BlobBuf buf;
	uint64_t n = h.count();
	build_file(buf, h, n);
	while (n > 1 && padded_payload(buf.head()) > max_file_payload) {
		// Reports of one kind are of similar size: guess the count that fits.
		uint64_t fit = n * max_file_payload / padded_payload(buf.head());
		n = std::clamp<uint64_t>(fit, 1, n - 1);
		build_file(buf, h, n);
	}
	if (padded_payload(buf.head()) > max_file_payload)
		return;
	std::string tmp = path + ".tmp";
	if (!write_all(tmp, buf.head(), blob_raw_len(buf.head())) || rename(tmp.c_str(), path.c_str()) != 0) {
		wlc::logf(LOG_WARNING, "failed to write %s", path.c_str());
		unlink(tmp.c_str());
	}
}

void ReportStore::evict_oldest()
{
	auto oldest = std::min_element(aps_.begin(), aps_.end(),
				       [](const auto &a, const auto &b) { return a.second.last_seen < b.second.last_seen; });
	if (oldest == aps_.end())
		return;
	wlc::logf(LOG_NOTICE, "too many APs, forget %s", oldest->first.c_str());
	std::error_code ec;
	fs::remove_all(wlc::root_path(dir_ + "/" + oldest->first), ec);
	aps_.erase(oldest);
}

size_t ReportStore::load()
{
	std::error_code ec;
	fs::directory_iterator it(wlc::root_path(dir_), ec);
	if (ec)
		return 0;
	aps_.clear();
	for (const fs::directory_entry &e : it) {
		std::string id = e.path().filename().string();
		if (e.is_directory(ec) && valid_ap_id(id))
			load_ap(id);
	}
	return aps_.size();
}

void ReportStore::load_ap(const std::string &id)
{
	std::error_code ec;
	fs::directory_iterator it(wlc::root_path(dir_ + "/" + id), ec);
	if (ec)
		return;
	int64_t now = clock_();
	for (const fs::directory_entry &e : it) {
		std::string name = e.path().filename().string();
		size_t dot = name.find('.');
		std::optional<Kind> k;
		if (!e.is_regular_file(ec) || dot == std::string::npos || dot > 15 || name.substr(dot + 1) != "blob" ||
		    !(k = kind_by_name(name.substr(0, dot))))
			continue;
		std::string path = e.path().string();
		auto words = read_file(path);
		auto entries = words ? parse_file(*k, reinterpret_cast<blob_attr *>(words->data()), now - max_file_age_s)
				     : std::nullopt;
		if (!entries) {
			// Kept aside for a look, never lost; the loader passes it over from now on.
			wlc::logf(LOG_WARNING, "refused report file %s", path.c_str());
			rename(path.c_str(), (path + ".bad").c_str());
			continue;
		}
		if (entries->empty()) {
			unlink(path.c_str());
			continue;
		}
		ApRecord &ap = record_for(id);
		auto h = std::make_unique<History>(history_length_);
		// A stamp later than now comes from before the clock stepped back: the
		// report arrived at the latest now, and must age from there, not live on.
		bool from_future = false;
		for (auto r = entries->rbegin(); r != entries->rend(); ++r) {
			from_future = from_future || r->ts > now;
			int64_t ts = std::min(r->ts, now);
			ap.last_seen = std::max(ap.last_seen, ts);
			newest_stamp_ = std::max(newest_stamp_, ts);
			h->push(ts, std::move(r->record));
		}
		ap.histories[*k] = std::move(h);
		if (from_future) {
			wlc::logf(LOG_NOTICE, "reports in %s are stamped later than now, taken as now", path.c_str());
			save(id, *k, *ap.histories[*k]);
		}
	}
	generation_++;
}

} // namespace rrm
