// The framing of the log service's stream: blob entries one after another,
// each read whole however the reads split them.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace mast {

class LogFrames {
public:
	// An entry longer than this is no log line: the stream is taken as broken.
	static constexpr size_t kMaxEntry = 64 * 1024;

	using Entry = std::function<void(const char *data, size_t len)>;

	// Takes the bytes of one read and hands every entry now whole to entry
	// (a part of one is kept for the next read); false when an entry's
	// declared length is impossible, the stream being broken from there on.
	[[nodiscard]] bool feed(const char *data, size_t len, const Entry &entry);
	void clear() { buf_.clear(); }
	[[nodiscard]] size_t pending() const { return buf_.size(); }

private:
	std::string buf_;
};

} // namespace mast
