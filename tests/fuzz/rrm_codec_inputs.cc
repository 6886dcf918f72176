// The RRM report codec under untrusted messages.
#include "rrm_codec_inputs.h"

#include <memory>
#include <vector>

#include "ctrl/store.h"

namespace wlcfuzz {

void rrm_codec_one_input(const uint8_t *data, size_t size)
{
	// The message as the bus hands it over: one attribute whose length
	// covers its header and lies within what arrived, in an exactly sized
	// buffer.
	if (size < sizeof(blob_attr))
		return;
	std::vector<uint8_t> buf(data, data + size);
	auto *msg = reinterpret_cast<blob_attr *>(buf.data());
	if (blob_raw_len(msg) < sizeof(blob_attr) || blob_raw_len(msg) > size || blob_is_extended(msg))
		return;
	// The controller's "report_add" arguments.
	static const std::array<blobmsg_policy, 3> policy = {
		{{"type", BLOBMSG_TYPE_STRING}, {"id", BLOBMSG_TYPE_STRING}, {"data", BLOBMSG_TYPE_TABLE}}};
	wlc::Fields<3> f;
	if (!f.parse(policy, msg) || !f.has(2))
		return;
	for (size_t k = 0; k < rrm::kind_count; k++) {
		std::unique_ptr<rrm::Record> r = rrm::decode_record(static_cast<rrm::Kind>(k), f[2]);
		if (!r)
			continue;
		wlc::BlobBuf again;
		{
			auto table = again.table("data");
			rrm::encode_record(again, *r);
		}
		(void)again.json();
	}
}

} // namespace wlcfuzz
