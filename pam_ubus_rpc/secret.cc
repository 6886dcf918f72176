// Wiping secrets.
#include "secret.h"

#include <cstdlib>
#include <cstring>

namespace pamrpc {

void wipe(void *p, size_t len) noexcept
{
	if (p && len)
		explicit_bzero(p, len);
}

SecretBlob::SecretBlob()
{
	buf_.grow = &SecretBlob::grow;
	blob_buf_init(&buf_, 0);
}

SecretBlob::~SecretBlob()
{
	wipe(buf_.buf, static_cast<size_t>(buf_.buflen));
	blob_buf_free(&buf_);
}

// Grows into a fresh block: the old one is wiped before it is freed, which
// realloc would not do.
bool SecretBlob::grow(blob_buf *buf, int minlen) noexcept
{
	if (minlen < 0)
		return false;
	size_t old_len = static_cast<size_t>(buf->buflen);
	size_t new_len = old_len + ((static_cast<size_t>(minlen) / 256) + 1) * 256;
	void *fresh = std::calloc(1, new_len);
	if (!fresh)
		return false;
	if (buf->buf) {
		std::memcpy(fresh, buf->buf, old_len);
		wipe(buf->buf, old_len);
		std::free(buf->buf);
	}
	buf->buf = fresh;
	buf->buflen = static_cast<int>(new_len);
	return true;
}

} // namespace pamrpc
