// PMK-R1 key tables.
#include "key.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string.h>

namespace iapp {

namespace {

enum { K_R0_ID, K_R0_KH_ID, K_R1_ID, K_R1_KEY, K_CIPHER, K_AKM, K_LIFETIME, K_REASSOC, K_MAX };
const std::array<blobmsg_policy, K_MAX> kKeyPolicy = {{
	{"pmk_r0_id", BLOBMSG_TYPE_UNSPEC}, {"pmk_r0_kh_id", BLOBMSG_TYPE_UNSPEC},
	{"pmk_r1_id", BLOBMSG_TYPE_UNSPEC}, {"pmk_r1_key", BLOBMSG_TYPE_UNSPEC},
	{"cipher", BLOBMSG_TYPE_INT32}, {"akm", BLOBMSG_TYPE_INT32},
	{"lifetime", BLOBMSG_TYPE_INT32}, {"reassoc_timeout", BLOBMSG_TYPE_INT32},
}};

void add_binary(wlc::BlobBuf &buf, const char *name, const uint8_t *data, size_t len)
{
	blobmsg_add_field(buf.raw(), BLOBMSG_TYPE_UNSPEC, name, data, static_cast<unsigned int>(len));
}

// Copies the first `len` bytes of a binary member; false when it is shorter.
// Longer members are accepted: a peer may send an identifier as a string,
// whose terminating zero makes it one byte longer than the record's field.
bool copy_prefix(blob_attr *attr, uint8_t *dest, size_t len)
{
	if (static_cast<size_t>(blobmsg_data_len(attr)) < len)
		return false;
	std::memcpy(dest, blobmsg_data(attr), len);
	return true;
}

} // namespace

SecretPmk::~SecretPmk()
{
	explicit_bzero(&rec_, sizeof(rec_));
}

void SecretPmk::assign(const zev_wifi_pmk_r1 &other)
{
	std::memcpy(&rec_, &other, sizeof(rec_));
}

void add_key_table(wlc::BlobBuf &buf, const zev_wifi_pmk_r1 &pmk)
{
	auto key = buf.table("key");
	size_t kh_len = pmk.pmk_r0_kh_id_len <= sizeof(pmk.pmk_r0_kh_id) ? pmk.pmk_r0_kh_id_len : sizeof(pmk.pmk_r0_kh_id);
	add_binary(buf, "pmk_r0_id", pmk.pmk_r0_id, sizeof(pmk.pmk_r0_id));
	add_binary(buf, "pmk_r0_kh_id", pmk.pmk_r0_kh_id, kh_len);
	add_binary(buf, "pmk_r1_id", pmk.pmk_r1_id, sizeof(pmk.pmk_r1_id));
	add_binary(buf, "pmk_r1_key", pmk.pmk_r1_key, sizeof(pmk.pmk_r1_key));
	buf.add_u32("cipher", pmk.cipher);
	buf.add_u32("akm", pmk.akm);
	buf.add_u32("lifetime", pmk.lifetime);
	buf.add_u32("reassoc_timeout", pmk.reassoc_timeout);
}

KeyCheck read_key_table(blob_attr *table, zev_wifi_pmk_r1 &out)
{
	std::memset(&out, 0, sizeof(out));
	wlc::Fields<K_MAX> f;
	if (!table || !f.parse(kKeyPolicy, table))
		return KeyCheck::missing;
	for (size_t i = 0; i < K_MAX; i++)
		if (!f.has(i))
			return KeyCheck::missing;
	// The R0KH-ID has a length of its own, up to the field's size.
	size_t kh_len = std::min(static_cast<size_t>(blobmsg_data_len(f[K_R0_KH_ID])), sizeof(out.pmk_r0_kh_id));
	if (!copy_prefix(f[K_R0_ID], out.pmk_r0_id, sizeof(out.pmk_r0_id)) ||
	    !copy_prefix(f[K_R0_KH_ID], out.pmk_r0_kh_id, kh_len) ||
	    !copy_prefix(f[K_R1_ID], out.pmk_r1_id, sizeof(out.pmk_r1_id)) ||
	    !copy_prefix(f[K_R1_KEY], out.pmk_r1_key, sizeof(out.pmk_r1_key))) {
		explicit_bzero(&out, sizeof(out));
		return KeyCheck::bad_length;
	}
	out.pmk_r0_kh_id_len = static_cast<uint8_t>(kh_len);
	out.cipher = static_cast<uint8_t>(*f.u32(K_CIPHER));
	out.akm = static_cast<uint8_t>(*f.u32(K_AKM));
	out.lifetime = *f.u32(K_LIFETIME);
	out.reassoc_timeout = *f.u32(K_REASSOC);
	if (out.lifetime == 0) {
		explicit_bzero(&out, sizeof(out));
		return KeyCheck::no_lifetime;
	}
	return KeyCheck::ok;
}

void wipe_table(blob_attr *table)
{
	if (!table)
		return;
	blob_attr *pos;
	size_t rem;
	blobmsg_for_each_attr(pos, table, rem)
		explicit_bzero(blobmsg_data(pos), static_cast<size_t>(blobmsg_data_len(pos)));
}

void wipe(wlc::BlobBuf &buf)
{
	blob_buf *raw = buf.raw();
	if (raw->buf && raw->buflen > 0)
		explicit_bzero(raw->buf, static_cast<size_t>(raw->buflen));
}

} // namespace iapp
