// Framing of bus messages on a stream socket: a 12-byte header (message
// header plus the attribute list's blob header), the attributes, and at most
// one descriptor passed with the first byte.
#pragma once

#include <wlc/c/ubus.h>

#include <cstdint>
#include <sys/types.h>
#include <vector>

namespace ubuswire {

struct Message {
	Message() = default;
	Message(Message &&other) noexcept { *this = std::move(other); }
	Message &operator=(Message &&other) noexcept;
	Message(const Message &) = delete;
	Message &operator=(const Message &) = delete;
	~Message();

	// Hands the received descriptor over to the caller.
	int take_fd() { int fd = this->fd; this->fd = -1; return fd; }

	uint8_t version = 0;
	uint8_t type = 0;
	uint16_t seq = 0;
	uint32_t peer = 0;
	std::vector<uint32_t> storage; // the attribute list, 4-byte aligned
	int fd = -1;

	blob_attr *attrs() { return reinterpret_cast<blob_attr *>(storage.data()); }
	const blob_attr *attrs() const { return reinterpret_cast<const blob_attr *>(storage.data()); }
};

enum class ReadResult { Message, Again, Closed, Invalid };

// Incremental reader for a non-blocking socket.
class Reader {
public:
	Reader() = default;
	Reader(const Reader &) = delete;
	Reader &operator=(const Reader &) = delete;
	~Reader();

	// Reads until one whole message is available (moved into out), the socket
	// would block, the peer closed, or the header is invalid.
	ReadResult read(int sock, Message &out);

private:
	ssize_t receive(int sock, void *buf, size_t len);

	uint8_t header_[12] = {};
	size_t header_have_ = 0;
	std::vector<uint32_t> body_;
	size_t body_have_ = 0;
	size_t body_len_ = 0;
	int fd_ = -1;
};

// A serialized message waiting to be written, with its descriptor.
struct Outgoing {
	std::vector<char> bytes;
	size_t offset = 0;
	int fd = -1;
};

Outgoing encode(uint8_t type, uint16_t seq, uint32_t peer, const blob_attr *attrs, int fd);

enum class WriteResult { Done, Partial, Error };

// Writes as much of the message as the socket takes now.
WriteResult write_some(int sock, Outgoing &msg);

// A message attribute list being built, freed when it goes out of scope.
class AttrBuf {
public:
	AttrBuf() { blob_buf_init(&buf_, 0); }
	~AttrBuf() { blob_buf_free(&buf_); }
	AttrBuf(const AttrBuf &) = delete;
	AttrBuf &operator=(const AttrBuf &) = delete;
	blob_buf *get() { return &buf_; }
	blob_attr *head() { return buf_.head; }

private:
	blob_buf buf_ = {};
};

// Parses the attribute list of a message against the bus's attribute types;
// returns false when an attribute does not hold together.
bool parse_attrs(const Message &msg, blob_attr **tb);

} // namespace ubuswire
