// Memory that held a password or a session secret is wiped before it is
// given back.
#pragma once

#include <wlc/c/ubox.h>

#include <string>

namespace pamrpc {

void wipe(void *p, size_t len) noexcept;

// A string wiped when it goes.
class SecretString {
public:
	SecretString() = default;
	explicit SecretString(std::string s) : s_(std::move(s)) {}
	~SecretString() { wipe(s_.data(), s_.capacity()); }
	SecretString(const SecretString &) = delete;
	SecretString &operator=(const SecretString &) = delete;

	std::string &get() { return s_; }
	const std::string &get() const { return s_; }

private:
	std::string s_;
};

// A blob buffer for a message carrying a password: whenever it grows, and
// when it goes, the memory it leaves is wiped first.
class SecretBlob {
public:
	SecretBlob();
	~SecretBlob();
	SecretBlob(const SecretBlob &) = delete;
	SecretBlob &operator=(const SecretBlob &) = delete;

	blob_buf *raw() { return &buf_; }
	blob_attr *head() const { return buf_.head; }

private:
	static bool grow(blob_buf *buf, int minlen) noexcept;

	blob_buf buf_ = {};
};

} // namespace pamrpc
