// Reading the report store's files back at start (their layout is described
// in store_file.cc). The first table must be whole; a damaged table after it
// is what a write cut short leaves, and it and anything after it are dropped.
#include "store.h"

#include <fsroot/fsroot.h>
#include <wlc/log.h>
#include <wlc/loop.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <span>

namespace rrm {

namespace fs = std::filesystem;

namespace {

// At most max_file_bytes of a file, in words so that blob attributes are
// aligned; nullopt when it cannot be read.
struct FileBytes {
	std::vector<uint32_t> words;
	size_t size = 0;   // bytes held
	bool whole = true; // false: the file is longer than what was read
};

std::optional<FileBytes> read_file(const std::string &path)
{
	wlc::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
	struct stat st;
	if (!fd || fstat(fd.get(), &st) != 0 || st.st_size < 0)
		return std::nullopt;
	FileBytes f;
	f.size = std::min(static_cast<size_t>(st.st_size), max_file_bytes);
	f.whole = static_cast<size_t>(st.st_size) <= max_file_bytes;
	f.words.assign((f.size + 3) / 4, 0);
	if (static_cast<size_t>(read(fd.get(), f.words.data(), f.size)) != f.size)
		return std::nullopt;
	return f;
}

// The entries of one table, newest first; nullopt when it is not a history.
std::optional<std::vector<LoadedReport>> parse_table(Kind k, blob_attr *head, int64_t oldest)
{
	static const std::array<blobmsg_policy, 1> top = {{{"reports", BLOBMSG_TYPE_ARRAY}}};
	static const std::array<blobmsg_policy, 2> entry = {{{"ts", BLOBMSG_TYPE_INT64}, {"data", BLOBMSG_TYPE_TABLE}}};
	std::array<blob_attr *, 1> tb{};
	if (blobmsg_parse(top.data(), 1, tb.data(), blob_data(head), blob_len(head)) != 0 || !tb[0])
		return std::nullopt;
	std::vector<LoadedReport> out;
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

// The tables of a file held in aligned words.
ParsedHistory parse_words(Kind k, std::vector<uint32_t> &words, size_t size, int64_t oldest)
{
	ParsedHistory p;
	size_t at = 0;
	while (at < size) {
		auto *head = reinterpret_cast<blob_attr *>(words.data() + at / 4);
		size_t len = size - at >= 4 ? blob_raw_len(head) : 0;
		std::optional<std::vector<LoadedReport>> table;
		if (len >= 4 && len <= size - at)
			table = parse_table(k, head, oldest);
		if (!table) {
			p.clean = false;
			break;
		}
		p.tables++;
		for (auto r = table->rbegin(); r != table->rend(); ++r)
			p.entries.push_back(std::move(*r));
		at += (len + 3) & ~size_t(3);
	}
	return p;
}

} // namespace

std::optional<ParsedHistory> parse_history_file(Kind k, const uint8_t *bytes, size_t len, int64_t oldest)
{
	std::vector<uint32_t> words((len + 3) / 4, 0);
	if (len > 0)
		std::memcpy(words.data(), bytes, len);
	ParsedHistory p = parse_words(k, words, len, oldest);
	if (p.tables == 0)
		return std::nullopt;
	return p;
}

namespace {

// The entries of a file as read; nullopt when its first table is not a whole history.
std::optional<ParsedHistory> parse_file(Kind k, FileBytes &f, int64_t oldest)
{
	ParsedHistory p = parse_words(k, f.words, f.size, oldest);
	if (p.tables == 0)
		return std::nullopt;
	p.clean = p.clean && f.whole;
	return p;
}

} // namespace

size_t ReportStore::load()
{
	std::error_code ec;
	fs::directory_iterator it(wlc::root_path(dir_), ec);
	if (ec)
		return 0;
	aps_.clear();
	bytes_ = 0;
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
	const ApRecord *known = find(id);
	size_t before = known ? ap_memory(id, *known) : 0;
	for (const fs::directory_entry &e : it) {
		std::string name = e.path().filename().string();
		size_t dot = name.find('.');
		std::optional<Kind> k;
		if (!e.is_regular_file(ec) || dot == std::string::npos || dot > 15 || name.substr(dot + 1) != "blob" ||
		    !(k = kind_by_name(name.substr(0, dot))))
			continue;
		std::string path = e.path().string();
		std::optional<FileBytes> bytes = read_file(path);
		std::optional<ParsedHistory> p = bytes ? parse_file(*k, *bytes, now - max_file_age_s) : std::nullopt;
		if (!p) {
			// Kept aside for a look, never lost; the loader passes it over from now on.
			wlc::logf(LOG_WARNING, "refused report file %s", path.c_str());
			rename(path.c_str(), (path + ".bad").c_str());
			continue;
		}
		if (!p->clean)
			wlc::logf(LOG_NOTICE, "dropped the damaged end of %s", path.c_str());
		if (p->entries.empty()) {
			unlink(path.c_str());
			continue;
		}
		ApRecord &ap = record_for(id);
		auto h = std::make_unique<History>(history_length_, *names_);
		// A stamp later than now comes from before the clock stepped back: the
		// report arrived at the latest now, and must age from there, not live on.
		bool from_future = false;
		for (LoadedReport &r : p->entries) {
			from_future = from_future || r.ts > now;
			int64_t ts = std::min(r.ts, now);
			ap.last_seen = std::max(ap.last_seen, ts);
			newest_stamp_ = std::max(newest_stamp_, ts);
			if (!h->push(ts, *r.record))
				break;
		}
		ap.histories[*k] = std::move(h);
		// A clean file takes further reports at its end; a damaged one is written whole first.
		ap.files[*k] = {bytes->size, p->tables - 1, p->clean};
		if (from_future) {
			wlc::logf(LOG_NOTICE, "reports in %s are stamped later than now, taken as now", path.c_str());
			save_whole(id, *k, ap);
		}
	}
	recount(id, before);
	generation_++;
}

} // namespace rrm
