// Generic netlink messages of the switch driver's "mt753x" family and of the
// kernel's family controller: built and parsed here, byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

namespace kite::genl {

constexpr uint16_t kCtrlFamily = 0x10;    // the family controller's id
constexpr uint8_t kCtrlGetFamily = 3;
constexpr uint8_t kCtrlNewFamily = 1;
constexpr uint16_t kCtrlAttrFamilyId = 1;
constexpr uint16_t kCtrlAttrFamilyName = 2;

constexpr uint8_t kCmdRead = 3;
constexpr uint8_t kCmdWrite = 4;
constexpr uint8_t kCmdPortTs = 5;

constexpr uint16_t kAttrMesg = 1;
constexpr uint16_t kAttrPhy = 2;
constexpr uint16_t kAttrReg = 4;
constexpr uint16_t kAttrVal = 5;
constexpr uint16_t kAttrTs1 = 8;
constexpr uint16_t kAttrTs2 = 9;
constexpr uint16_t kAttrMax = 9;

constexpr uint16_t kRequestFlags = 0x0005; // request, acknowledge

struct Attr32 {
	uint16_t type;
	uint32_t value;
};

// One request: netlink header, generic netlink header, 32-bit attributes in the order given.
[[nodiscard]] std::vector<uint8_t> build_request(uint16_t family, uint8_t cmd, uint8_t version, uint32_t seq,
						 uint32_t port, std::span<const Attr32> attrs);
// The family controller's question for one family by name.
[[nodiscard]] std::vector<uint8_t> build_family_lookup(std::string_view name, uint32_t seq, uint32_t port);

// A view of one attribute's payload.
struct AttrView {
	const uint8_t *data = nullptr;
	size_t len = 0;
	bool present() const { return data != nullptr; }
};
using AttrTable = AttrView[kAttrMax + 1];

// Fills table with the attributes 0..kAttrMax of a payload (the last of a
// type wins); false when an attribute's length runs past the payload.
[[nodiscard]] bool parse_attrs(const uint8_t *data, size_t len, AttrTable &table);
// A 32-bit attribute's value; false when absent or shorter than 4 bytes.
[[nodiscard]] bool attr_u32(const AttrView &a, uint32_t &value);

// What one datagram meant for an exchange with sequence number seq.
struct Ended {
	bool done = false; // an acknowledgement or an error arrived
	int error = 0;     // 0 for an acknowledgement, else the negative error
};
// A message of a family for this exchange: its type, generic netlink command and attribute payload.
using OnMessage = std::function<void(uint16_t type, uint8_t cmd, const uint8_t *attrs, size_t len)>;
// Walks the messages of one received datagram, length-checked; messages of
// other exchanges are skipped, malformed ones end the walk.
void walk(const uint8_t *data, size_t len, uint32_t seq, const OnMessage &on_message, Ended &ended);

} // namespace kite::genl
