// The log stream's framing.
#include "log_frames.h"

#include <wlc/c/ubox.h>

#include <arpa/inet.h>
#include <cstring>

namespace mast {

bool LogFrames::feed(const char *data, size_t len, const Entry &entry)
{
	buf_.append(data, len);
	size_t pos = 0;
	while (buf_.size() - pos >= sizeof(blob_attr)) {
		uint32_t id_len;
		std::memcpy(&id_len, buf_.data() + pos, sizeof(id_len));
		size_t entry_len = ntohl(id_len) & BLOB_ATTR_LEN_MASK;
		if (entry_len < sizeof(blob_attr) || entry_len > kMaxEntry)
			return false;
		if (buf_.size() - pos < entry_len)
			break;
		entry(buf_.data() + pos, entry_len);
		pos += entry_len;
	}
	buf_.erase(0, pos);
	return true;
}

} // namespace mast
