// The netlink back end's request record and the handler of the family's
// replies, which fills it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kite {

// What the last exchange asked and what its replies said.
struct Record {
	int phy = -1;
	int reg = 0;
	uint32_t val = 0xFFFFFFFF;
	bool has_val = false;
	char cmd_kind = 'r';
	int port = -1;
	uint64_t ts[2] = {0, 0};
};

// Applies one reply of the family (its command and attribute payload) to
// the record. Replies of reads and writes whose message begins "No" are
// ignored; other commands are ignored.
void apply_reply(Record &rec, uint8_t cmd, const uint8_t *attrs, size_t len);

} // namespace kite
