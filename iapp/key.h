// PMK-R1 keys: the record wiped when it goes, the "key" table of key_set
// messages, and wiping of buffers that held key material.
#pragma once

#include <wlc/blob.h>
#include <zev/wifi.h>

namespace iapp {

// A zeroed PMK-R1 record whose bytes are wiped when it goes.
class SecretPmk {
public:
	SecretPmk() = default;
	~SecretPmk();
	SecretPmk(const SecretPmk &) = delete;
	SecretPmk &operator=(const SecretPmk &) = delete;

	zev_wifi_pmk_r1 *get() { return &rec_; }
	const zev_wifi_pmk_r1 &operator*() const { return rec_; }
	const zev_wifi_pmk_r1 *operator->() const { return &rec_; }
	void assign(const zev_wifi_pmk_r1 &other);

private:
	zev_wifi_pmk_r1 rec_ = {};
};

// Adds the table "key": the four binary members at their used lengths, then
// "cipher", "akm", "lifetime", "reassoc_timeout" as 32-bit integers.
void add_key_table(wlc::BlobBuf &buf, const zev_wifi_pmk_r1 &pmk);

enum class KeyCheck {
	ok,
	missing,     // one of the eight members absent (or of a wrong type)
	bad_length,  // a binary member shorter than the record's field
	no_lifetime, // lifetime 0: no key at all
};

// Reads a received "key" table into the record (zeroed first); of a binary
// member longer than its field the first bytes are used.
[[nodiscard]] KeyCheck read_key_table(blob_attr *table, zev_wifi_pmk_r1 &out);

// Overwrites the data of every member of a received table with zeroes.
void wipe_table(blob_attr *table);

// Overwrites a whole message buffer with zeroes (it stays allocated).
void wipe(wlc::BlobBuf &buf);

} // namespace iapp
