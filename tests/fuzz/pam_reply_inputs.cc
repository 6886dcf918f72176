// Feeds untrusted reply data to the PAM module's reply reader.
#include "pam_reply_inputs.h"

#include "session_service.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace wlcfuzz {

void pam_reply_one_input(const uint8_t *data, size_t size)
{
	if (size < sizeof(blob_attr))
		return;
	// An exactly sized, aligned copy: any read past the end is caught.
	auto buf = std::make_unique<uint32_t[]>(size / 4 + 1);
	std::memcpy(buf.get(), data, size);
	auto *msg = reinterpret_cast<blob_attr *>(buf.get());
	// The bus library hands over only an attribute that fits in its message.
	if (blob_raw_len(msg) > size || blob_raw_len(msg) < sizeof(blob_attr))
		return;
	pamrpc::LoginResult result;
	result.outcome = pamrpc::Outcome::Granted;
	result.session = "stale";
	pamrpc::read_login_reply(msg, result);
	// A grant always carries its session; no other outcome keeps one.
	bool granted = result.outcome == pamrpc::Outcome::Granted;
	if (granted == result.session.empty())
		std::abort();
}

} // namespace wlcfuzz
