// The tap's bounded memory of log lines and RRM commands.
#include "tap_store.h"

#include <algorithm>
#include <iterator>

#include "common/identifiers.h"

namespace fleet {

namespace {

// Bookkeeping of a kept line besides its text: deque slot, map node share.
constexpr size_t kLineOverhead = 64;

template <typename T>
std::vector<T> last(const std::deque<T> &all, size_t n)
{
	size_t skip = all.size() > n ? all.size() - n : 0;
	return {all.begin() + static_cast<std::ptrdiff_t>(skip), all.end()};
}

} // namespace

size_t TapStore::cost(const std::string &ap, const LogLine &line)
{
	return line.msg.size() + ap.size() + kLineOverhead;
}

void TapStore::add_line(const std::string &ap, LogLine line)
{
	if (limits_.lines_per_ap == 0)
		return;
	line.msg = printable(line.msg, limits_.max_msg);
	std::deque<Kept> &kept = logs_[ap];
	if (kept.size() >= limits_.lines_per_ap)
		drop_front(ap);
	std::deque<Kept> &now = logs_[ap]; // drop_front may have erased the entry
	uint64_t seq = next_seq_++;
	if (now.empty())
		fronts_.emplace(seq, ap);
	log_bytes_ += cost(ap, line);
	now.push_back({seq, std::move(line)});
	while (log_bytes_ > limits_.log_bytes && !fronts_.empty())
		drop_oldest();
}

void TapStore::drop_front(const std::string &ap)
{
	auto it = logs_.find(ap);
	if (it == logs_.end() || it->second.empty())
		return;
	std::deque<Kept> &kept = it->second;
	fronts_.erase(kept.front().seq);
	log_bytes_ -= cost(ap, kept.front().line);
	kept.pop_front();
	if (kept.empty()) {
		logs_.erase(it);
		return;
	}
	fronts_.emplace(kept.front().seq, ap);
}

void TapStore::drop_oldest()
{
	std::string ap = fronts_.begin()->second;
	drop_front(ap);
}

void TapStore::add_command(const std::string &site, RrmCommand command)
{
	if (limits_.commands == 0)
		return;
	std::pair<std::string, int32_t> key{site, command.radio};
	if (!commands_.contains(key) && commands_.size() >= limits_.command_lists)
		return;
	std::deque<RrmCommand> &kept = commands_[key];
	if (kept.size() >= limits_.commands)
		kept.pop_front();
	kept.push_back(std::move(command));
}

std::vector<LogLine> TapStore::lines(const std::string &ap, size_t n) const
{
	auto it = logs_.find(ap);
	if (it == logs_.end())
		return {};
	std::vector<Kept> kept = last(it->second, n);
	std::vector<LogLine> out;
	out.reserve(kept.size());
	std::transform(kept.begin(), kept.end(), std::back_inserter(out), [](const Kept &k) { return k.line; });
	return out;
}

std::vector<RrmCommand> TapStore::commands(const std::string &site, int32_t radio, size_t n) const
{
	auto it = commands_.find({site, radio});
	return it == commands_.end() ? std::vector<RrmCommand>{} : last(it->second, n);
}

} // namespace fleet
