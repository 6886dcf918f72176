// Reports as the store keeps them: one block of fixed-size records per
// report, with the BSSIDs (and the SSIDs heard with them) interned once for
// the whole store, so that a history costs little more than its fields.
#pragma once

#include <wlc/blob.h>

#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "common/codec.h"

namespace rrm {

using Record = std::variant<ChannelList, BssList, RadioReport>;

// The BSSIDs, each with the SSID it was heard with (empty for an AP's own
// BSSIDs), that the store's reports name, counted by reference.
class BssNames {
public:
	struct Name {
		Mac bssid{};
		uint8_t ssid_len = 0;
		char ssid[32] = {};
		bool operator==(const Name &) const = default;
	};

	BssNames() = default;
	BssNames(const BssNames &) = delete;
	BssNames &operator=(const BssNames &) = delete;

	// The name's number, taking one reference.
	[[nodiscard]] uint32_t intern(const uint8_t bssid[6], std::string_view ssid);
	void release(uint32_t id);
	[[nodiscard]] const Name &at(uint32_t id) const { return *slots_[id].name; }
	// The BSSID as text, formatted once when the name was interned.
	[[nodiscard]] std::string_view bssid_text(uint32_t id) const { return {slots_[id].text, 17}; }
	[[nodiscard]] size_t count() const { return index_.size(); }
	[[nodiscard]] size_t memory() const;

private:
	struct Hash {
		size_t operator()(const Name &n) const noexcept;
	};
	struct Slot {
		const Name *name = nullptr; // the key in index_
		uint32_t refs = 0;
		char text[18] = {};
	};
	std::unordered_map<Name, uint32_t, Hash> index_;
	std::vector<Slot> slots_;
	std::vector<uint32_t> free_;
};

// One report in its compact form. Values are kept at the widths the codec
// decodes them with (16 bits), so that unpacking gives back the decoded record.
class PackedReport {
public:
	// nullptr only when memory runs out.
	[[nodiscard]] static PackedReport *pack(const Record &r, BssNames &names);
	// Frees the block and gives back its names.
	static void release(PackedReport *p, BssNames &names) noexcept;

	[[nodiscard]] Record unpack(const BssNames &names) const;
	// Appends the members of the kind's encoding to the table open in buf,
	// exactly as the codec's encoder does for the unpacked record.
	void encode(wlc::BlobBuf &buf, const BssNames &names) const;
	// Radio reports: the channel and power reported.
	[[nodiscard]] int channel() const { return channel_; }
	[[nodiscard]] int power() const { return power_; }
	[[nodiscard]] size_t memory() const;

private:
	// The records of each kind, at the widths the codec decodes.
	struct Channel {
		uint16_t type, interval, channel, busy, tx, rx, obss, non_wifi, false_cca;
	};
	struct Bss {
		uint32_t name;
		int16_t rssi;
		uint16_t channel, bw, sta;
		uint8_t util, qbss;
	};
	struct Station {
		uint8_t mac[6];
		uint8_t phy, mcs, bw;
		int16_t rssi;
		uint32_t time;
	};

	// The records follow the header, at a 4-byte boundary.
	static constexpr size_t header_bytes = 12;

	PackedReport() = default;
	[[nodiscard]] static size_t block_size(uint8_t kind, size_t count, size_t bssids);
	template <typename T>
	[[nodiscard]] T *items() const
	{
		auto *base = const_cast<char *>(reinterpret_cast<const char *>(this));
		return reinterpret_cast<T *>(base + header_bytes);
	}
	[[nodiscard]] uint32_t *bssid_refs() const;
	void fill(const ChannelList &list);
	void fill(const BssList &list, BssNames &names);
	void fill(const RadioReport &r, BssNames &names);
	void encode_channels(wlc::BlobBuf &buf) const;
	void encode_bss(wlc::BlobBuf &buf, const BssNames &names) const;
	void encode_radio(wlc::BlobBuf &buf, const BssNames &names) const;

	uint8_t kind_ = 0;     // the Record alternative
	uint16_t count_ = 0;   // channel records, BSSs or stations
	uint16_t bssids_ = 0;  // radio reports: the AP's own BSSIDs
	int16_t channel_ = 0;  // radio reports
	int16_t power_ = unknown_power;
};
static_assert(sizeof(PackedReport) <= 12);

} // namespace rrm
