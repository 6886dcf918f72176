// Framing of bus messages on a stream socket: a 12-byte header (message
// header plus the attribute list's blob header), the attributes, and at most
// one descriptor passed with the first byte.
#pragma once

#include <wlc/c/ubus.h>

#include <cstdint>
#include <deque>
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

// Incremental reader for a non-blocking socket. Small messages are taken in
// blocks: one receive brings every message the socket holds, up to the
// buffer's size; a message larger than the buffer is read into its own
// storage. A descriptor belongs to the message that holds the last byte of
// the receive that brought it: the kernel ends a receive right after the
// bytes sent with a descriptor, and a sender passes it with its message.
class Reader {
public:
	Reader() = default;
	Reader(const Reader &) = delete;
	Reader &operator=(const Reader &) = delete;
	~Reader();

	// Reads until one whole message is available (moved into out), the socket
	// would block, the peer closed, or the header is invalid.
	ReadResult read(int sock, Message &out);

	// True when the last receive found the socket emptied (it returned less
	// than it had room for) and no whole message is left in the buffer: a
	// caller reading until Again may stop here without another receive.
	bool drained() const { return drained_ && !whole_message_buffered(); }
	// True when a whole message (or a header to refuse) waits in the buffer:
	// the next read returns it without looking at the socket, which may
	// hold nothing more.
	bool buffered() const { return whole_message_buffered(); }

private:
	struct HeldFd {
		int fd;
		uint64_t last_byte; // stream offset of the last byte received with it
	};

	ssize_t receive(int sock, void *buf, size_t len, uint64_t at);
	char *bytes();
	const char *bytes() const;
	bool header_length(size_t &raw) const;
	bool whole_message_buffered() const;
	void attach_fds(Message &out, uint64_t begin, uint64_t end);
	ReadResult fill(int sock);
	ReadResult fill_large(int sock);
	void start_large(size_t raw);
	void take_buffered(Message &out, size_t raw);
	void take_large(Message &out);

	std::vector<uint32_t> buf_;  // received bytes, [start_, end_) not yet taken
	size_t start_ = 0;
	size_t end_ = 0;
	uint64_t offset_ = 0;        // stream offset of buf_[start_]
	bool drained_ = false;
	// A message larger than the buffer, read into its own storage.
	Message large_;
	bool large_active_ = false;
	size_t large_have_ = 0;      // bytes of the attribute list received
	size_t large_len_ = 0;
	uint64_t large_begin_ = 0;   // stream offset of its first byte
	std::vector<HeldFd> fds_;
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

// Writes as much of the queue as the socket takes now, consecutive messages
// gathered into one write; a message with a descriptor is written apart
// from the messages around it, so that a receive never sees its descriptor
// with another message's bytes. Sent messages leave the queue (their
// descriptors closed); written counts the bytes.
WriteResult write_queue(int sock, std::deque<Outgoing> &queue, size_t &written);

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
