// mast's log stream framing under untrusted streams.
#include "mast_log_frames_inputs.h"

#include <wlc/c/ubox.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ap/log_frames.h"

namespace wlcfuzz {

namespace {

[[noreturn]] void wrong(const char *what)
{
	std::fprintf(stderr, "log stream framing: %s\n", what);
	std::abort();
}

// Read sizes cycle through a pattern the first byte chooses: 1 to 8 bytes,
// or blocks as large as the stream's reads.
size_t read_size(uint8_t pattern, size_t n)
{
	if (pattern & 0x80)
		return 4096 - (pattern & 0x7f) * 13;
	return 1 + ((pattern + n * (pattern | 1)) % 8);
}

} // namespace

void mast_log_frames_one_input(const uint8_t *data, size_t size)
{
	if (size == 0)
		return;
	uint8_t pattern = data[0];
	const char *stream = reinterpret_cast<const char *>(data + 1);
	size_t total = size - 1, fed = 0, handed = 0;
	mast::LogFrames frames;
	for (size_t n = 0; fed < total; n++) {
		size_t len = std::min(read_size(pattern, n), total - fed);
		// Each read in its own exactly sized buffer, as the stream delivers it.
		std::vector<char> chunk(stream + fed, stream + fed + len);
		fed += len;
		bool whole = frames.feed(chunk.data(), len, [&](const char *entry, size_t entry_len) {
			if (entry_len < sizeof(blob_attr) || entry_len > mast::LogFrames::kMaxEntry)
				wrong("entry of impossible length handed on");
			if (handed + entry_len > fed || std::memcmp(entry, stream + handed, entry_len) != 0)
				wrong("entry is not the stream's next bytes");
			uint32_t id_len; // entries lie at any offset: read unaligned
			std::memcpy(&id_len, entry, sizeof(id_len));
			if ((ntohl(id_len) & BLOB_ATTR_LEN_MASK) != entry_len)
				wrong("entry length is not the declared one");
			handed += entry_len;
		});
		if (!whole)
			return; // broken: the stream is asked for anew
		if (handed + frames.pending() != fed)
			wrong("bytes lost or doubled");
	}
}

} // namespace wlcfuzz
