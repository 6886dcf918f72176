// mast's message readers under untrusted payloads.
#include "mast_messages_inputs.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "mqtt/payload.h"
#include "mqtt/readers.h"

namespace wlcfuzz {

void mast_messages_one_input(const uint8_t *data, size_t size)
{
	// An exactly sized copy, aligned as the broker client's payloads are
	// (allocated): any read past the end is caught.
	std::vector<uint8_t> buf(data, data + size);
	const void *payload = buf.data();
	// What the relays do with a checked payload: its fields copied into a
	// bus message, rendered as the command runner takes it.
	if (blob_attr *attr = mast::payload_check(payload, size)) {
		wlc::BlobBuf relay;
		relay.add_fields(attr);
		(void)relay.json(true);
	}
	wlc::BlobBuf join;
	if (mast::read_join_request("ap-00-11-22", payload, size, join) == mast::JoinRead::ok)
		(void)join.json();
	wlc::BlobBuf presence;
	(void)mast::read_presence("ap-00-11-22", payload, size, presence);
	(void)presence.json();
	if (auto v = mast::read_version(payload, size))
		(void)v->version.size();
	if (auto c = mast::read_config(payload, size))
		(void)c->json.size();
	if (auto fw = mast::read_firmware(payload, size))
		(void)("https://controller:" + std::to_string(fw->port) + "/" + fw->path).size();
	// The telemetry relay's call arguments and the bridge's answer are
	// copies of tables inside the payload.
	mast::TelemetryRequest req;
	if (mast::read_telemetry_request(payload, size, req) == mast::RequestRead::ok) {
		wlc::BlobBuf args;
		args.add_fields(req.message);
		(void)args.json(true);
	}
	if (auto resp = mast::read_response(payload, size)) {
		wlc::BlobBuf answer;
		answer.add_fields(resp->data);
		(void)answer.json(true);
	}
	(void)mast::read_reconfig(payload, size);
	if (auto entry = mast::read_log_entry(payload, size))
		(void)entry->msg.size();

	// The same bytes as a received topic: split into levels and joined
	// again, whole or within a limit, as the relays rebuild topics.
	std::string topic(reinterpret_cast<const char *>(data), size);
	mast::TopicLevels levels = mast::split_topic(topic);
	if (mast::join_topic(levels, topic.size()) != topic)
		std::abort();
	size_t limit = size ? data[0] : 0;
	std::string cut = mast::join_topic(levels, limit);
	if (cut.size() > limit || topic.compare(0, cut.size(), cut) != 0)
		std::abort();
}

} // namespace wlcfuzz
