// The RRM report store's file loading under untrusted files.
#include "rrm_store_inputs.h"

#include <vector>

#include "ctrl/store.h"

namespace wlcfuzz {

namespace {

// The time the saved inputs' reports are recent at (2025-12-06).
constexpr int64_t kNow = 1765000000 + 3600;

} // namespace

void rrm_store_one_input(const uint8_t *data, size_t size)
{
	// The file's bytes as read, in a buffer of exactly their size.
	std::vector<uint8_t> bytes(data, data + size);
	for (size_t k = 0; k < rrm::kind_count; k++) {
		auto file = rrm::parse_history_file(static_cast<rrm::Kind>(k), bytes.data(), bytes.size(),
						    kNow - rrm::max_file_age_s);
		if (!file)
			continue;
		wlc::BlobBuf again;
		for (const rrm::LoadedReport &r : file->entries) {
			auto entry = again.table();
			again.add_u64("ts", static_cast<uint64_t>(r.ts));
			auto table = again.table("data");
			rrm::encode_record(again, *r.record);
		}
		(void)again.json();
	}
}

} // namespace wlcfuzz
