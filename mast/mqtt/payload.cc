// Payload check and topic levels.
#include "payload.h"

#include <wlc/c/ubox.h>

namespace mast {

blob_attr *payload_check(const void *payload, size_t len)
{
	if (!payload || len < sizeof(blob_attr))
		return nullptr;
	auto *attr = static_cast<blob_attr *>(const_cast<void *>(payload));
	size_t declared = blob_raw_len(attr);
	size_t headers = sizeof(blob_attr);
	if (blob_is_extended(attr)) {
		if (declared < sizeof(blob_attr) + sizeof(blobmsg_hdr) || len < sizeof(blob_attr) + sizeof(blobmsg_hdr))
			return nullptr;
		headers += static_cast<size_t>(blobmsg_hdrlen(blobmsg_namelen(static_cast<blobmsg_hdr *>(blob_data(attr)))));
	}
	if (declared > len || declared < headers)
		return nullptr;
	return attr;
}

TopicLevels split_topic(const std::string &topic)
{
	TopicLevels levels;
	size_t start = 0;
	for (;;) {
		size_t slash = topic.find('/', start);
		levels.push_back(topic.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
		if (slash == std::string::npos)
			return levels;
		start = slash + 1;
	}
}

std::string join_topic(const TopicLevels &levels, size_t limit)
{
	std::string out;
	for (size_t i = 0; i < levels.size(); i++) {
		size_t need = levels[i].size() + (i ? 1 : 0);
		if (out.size() + need > limit)
			break;
		if (i)
			out += '/';
		out += levels[i];
	}
	return out;
}

} // namespace mast
