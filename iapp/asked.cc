// Recent key requests.
#include "asked.h"

#include <algorithm>

namespace iapp {

void AskedKeys::expire(Clock::time_point now)
{
	while (!entries_.empty() && now - entries_.front().at > kWindow)
		entries_.pop_front();
}

std::deque<AskedKeys::Entry>::iterator AskedKeys::find(std::string_view peer, std::string_view wlan, const Mac &sta,
						       const Mac &bssid)
{
	return std::find_if(entries_.begin(), entries_.end(), [&](const Entry &e) {
		return e.sta == sta && e.bssid == bssid && e.peer == peer && e.wlan == wlan;
	});
}

void AskedKeys::remember(std::string_view peer, std::string_view wlan, const Mac &sta, const Mac &bssid,
			 Clock::time_point now)
{
	expire(now);
	auto it = find(peer, wlan, sta, bssid);
	if (it != entries_.end())
		entries_.erase(it);
	entries_.push_back(Entry{std::string(peer), std::string(wlan), sta, bssid, now});
	if (entries_.size() > kCapacity)
		entries_.pop_front();
}

bool AskedKeys::take(std::string_view peer, std::string_view wlan, const Mac &sta, const Mac &bssid,
		     Clock::time_point now)
{
	expire(now);
	auto it = find(peer, wlan, sta, bssid);
	if (it == entries_.end())
		return false;
	entries_.erase(it);
	return true;
}

} // namespace iapp
