// Untrusted bytes as an open text file, for readers that take a FILE.
#pragma once

#include <cstdio>
#include <cstdint>
#include <memory>
#include <vector>

namespace wlcfuzz {

struct FileClose {
	void operator()(FILE *f) const noexcept { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileClose>;

// A read-only stream over its own copy of the bytes (kept alive by copy).
inline FilePtr open_bytes(const uint8_t *data, size_t size, std::vector<uint8_t> &copy)
{
	copy.assign(data, data + size);
	copy.push_back(0); // an empty text needs a buffer too
	return FilePtr(fmemopen(copy.data(), size, "r"));
}

} // namespace wlcfuzz
