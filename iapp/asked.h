// The key requests this AP sent recently. A key delivered by a peer is
// installed only when it answers one of them: any client of the broker can
// publish on our key_set topic, and a key planted for a station would let
// whoever knows it impersonate the AP to that station.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

#include "text.h"

namespace iapp {

class AskedKeys {
public:
	using Clock = std::chrono::steady_clock;
	// How long an answer is awaited; keys travel in well under a second.
	static constexpr std::chrono::seconds kWindow{30};
	// Requests kept at most (the oldest go first): bounded whatever peers announce.
	static constexpr size_t kCapacity = 1024;

	// A key for sta towards our bssid was asked of peer for wlan.
	void remember(std::string_view peer, std::string_view wlan, const Mac &sta, const Mac &bssid,
		      Clock::time_point now = Clock::now());
	// True (and forgotten, so that it is answered once) when such a request
	// was made within the window.
	[[nodiscard]] bool take(std::string_view peer, std::string_view wlan, const Mac &sta, const Mac &bssid,
				Clock::time_point now = Clock::now());
	size_t size() const { return entries_.size(); }

private:
	struct Entry {
		std::string peer;
		std::string wlan;
		Mac sta;
		Mac bssid;
		Clock::time_point at;
	};
	void expire(Clock::time_point now);
	std::deque<Entry>::iterator find(std::string_view peer, std::string_view wlan, const Mac &sta, const Mac &bssid);

	std::deque<Entry> entries_; // oldest first
};

} // namespace iapp
