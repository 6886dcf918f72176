// The APs' listed fields in memory.
#include "ap_table.h"

#include <algorithm>
#include <iterator>

namespace fleet {

std::string_view ApTable::Row::text(Text t) const
{
	uint32_t begin = t == site ? 0 : ends[t - 1];
	return std::string_view(texts).substr(begin, ends[t] - begin);
}

namespace {

// An index's order: that of the rows' identifiers.
template <typename Entry> bool before(Entry a, Entry b)
{
	return a->first < b->first;
}

template <typename Entry> void insert_sorted(std::vector<Entry> &index, Entry e)
{
	auto at = std::lower_bound(index.begin(), index.end(), e, before<Entry>);
	index.insert(at, e);
}

template <typename Entry> void erase_sorted(std::vector<Entry> &index, Entry e)
{
	auto at = std::lower_bound(index.begin(), index.end(), e, before<Entry>);
	if (at != index.end() && *at == e)
		index.erase(at);
}

// Adds the entry to the index of key, made if there is none yet.
template <typename Map, typename Entry> void add_to(Map &indexes, std::string_view key, Entry e)
{
	auto it = indexes.find(key);
	if (it == indexes.end())
		it = indexes.emplace(std::string(key), typename Map::mapped_type()).first;
	insert_sorted(it->second, e);
}

// Takes the entry out of the index of key, and the key once its index is empty.
template <typename Map, typename Entry> void remove_from(Map &indexes, std::string_view key, Entry e)
{
	auto it = indexes.find(key);
	if (it == indexes.end())
		return;
	erase_sorted(it->second, e);
	if (it->second.empty())
		indexes.erase(it);
}

} // namespace

void ApTable::index(Entry e)
{
	add_to(by_site_, e->second.text(site), e);
	add_to(by_model_, e->second.text(model), e);
	insert_sorted(by_state_[static_cast<size_t>(e->second.state)], e);
}

void ApTable::unindex(Entry e)
{
	remove_from(by_site_, e->second.text(site), e);
	remove_from(by_model_, e->second.text(model), e);
	erase_sorted(by_state_[static_cast<size_t>(e->second.state)], e);
}

void ApTable::put(const ApRecord &r)
{
	const std::array<const std::string *, kTexts> fields = {&r.site,       &r.model,       &r.serial, &r.mac,
								&r.fw_version, &r.fw_revision, &r.ip,     &r.hostname};
	Row row;
	size_t total = 0;
	for (const std::string *f : fields)
		total += f->size();
	row.texts.reserve(total);
	for (size_t i = 0; i < fields.size(); i++) {
		row.texts += *fields[i];
		row.ends[i] = static_cast<uint32_t>(row.texts.size());
	}
	row.state = r.state;
	row.online = r.online;
	row.first_seen = r.first_seen;
	row.last_seen = r.last_seen;
	auto [it, added] = rows_.try_emplace(r.id);
	const Row &old = it->second;
	bool moved = added || old.state != r.state || old.text(site) != r.site || old.text(model) != r.model;
	if (moved && !added)
		unindex(&*it);
	it->second = std::move(row);
	if (moved)
		index(&*it);
}

void ApTable::erase(std::string_view id)
{
	auto it = rows_.find(id);
	if (it == rows_.end())
		return;
	unindex(&*it);
	rows_.erase(it);
}

void ApTable::clear()
{
	by_site_.clear();
	by_model_.clear();
	for (Index &i : by_state_)
		i.clear();
	rows_.clear();
}

bool ApTable::passes(const Row &row, const ApFilter &f)
{
	return (!f.site || row.text(site) == *f.site) && (!f.state || row.state == *f.state) &&
	       (!f.model || row.text(model) == *f.model);
}

void ApTable::fill(ApRecord &r, const std::string &id, const Row &row)
{
	r.id = id;
	r.site = row.text(site);
	r.model = row.text(model);
	r.serial = row.text(serial);
	r.mac = row.text(mac);
	r.fw_version = row.text(fw_version);
	r.fw_revision = row.text(fw_revision);
	r.ip = row.text(ip);
	r.hostname = row.text(hostname);
	r.state = row.state;
	r.online = row.online;
	r.first_seen = row.first_seen;
	r.last_seen = row.last_seen;
}

ApTable::Rows::const_iterator ApTable::start(int64_t offset) const
{
	if (offset <= 0)
		return rows_.begin();
	if (static_cast<uint64_t>(offset) >= rows_.size())
		return rows_.end();
	return std::next(rows_.begin(), static_cast<std::ptrdiff_t>(offset));
}

std::vector<ApRecord> ApTable::scan_all(const ApFilter &f) const
{
	size_t rest = rows_.size() - std::min(rows_.size(), static_cast<size_t>(std::max<int64_t>(f.offset, 0)));
	size_t n = f.limit >= 0 ? std::min(rest, static_cast<size_t>(f.limit)) : rest;
	std::vector<ApRecord> out;
	out.reserve(n);
	for (auto it = start(f.offset); out.size() < n; ++it)
		fill(out.emplace_back(), it->first, it->second);
	return out;
}

const ApTable::Index *ApTable::candidates(const ApFilter &f) const
{
	static const Index none;
	const Index *best = nullptr;
	auto consider = [&best](const Index *i) {
		if (!best || i->size() < best->size())
			best = i;
	};
	auto in = [](const Indexes &indexes, const std::string &key) {
		auto it = indexes.find(key);
		return it == indexes.end() ? &none : &it->second;
	};
	if (f.site)
		consider(in(by_site_, *f.site));
	if (f.model)
		consider(in(by_model_, *f.model));
	if (f.state)
		consider(&by_state_[static_cast<size_t>(*f.state)]);
	return best;
}

std::vector<ApRecord> ApTable::list(const ApFilter &f) const
{
	const Index *rows = candidates(f);
	if (!rows)
		return scan_all(f);
	int64_t skip = std::max<int64_t>(f.offset, 0);
	// Room for the page at once: growing by doubling would hold two copies
	// of a large one (every adopted AP) for a while.
	auto rest = static_cast<uint64_t>(std::max<int64_t>(count(f) - skip, 0));
	std::vector<ApRecord> out;
	out.reserve(static_cast<size_t>(f.limit >= 0 ? std::min(rest, static_cast<uint64_t>(f.limit)) : rest));
	for (Entry e : *rows) {
		if (f.limit >= 0 && out.size() >= static_cast<uint64_t>(f.limit))
			break;
		if (!passes(e->second, f))
			continue;
		if (skip > 0) {
			skip--;
			continue;
		}
		fill(out.emplace_back(), e->first, e->second);
	}
	return out;
}

int64_t ApTable::count(const ApFilter &f) const
{
	const Index *rows = candidates(f);
	if (!rows)
		return static_cast<int64_t>(rows_.size());
	if ((f.site ? 1 : 0) + (f.model ? 1 : 0) + (f.state ? 1 : 0) == 1)
		return static_cast<int64_t>(rows->size());
	return std::count_if(rows->begin(), rows->end(), [&f](Entry e) { return passes(e->second, f); });
}

} // namespace fleet
