// Reading and writing framed bus messages, with descriptor passing.
#include "wire.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <utility>
#include <sys/socket.h>
#include <unistd.h>
#include <wlc/platform_values.h>

namespace ubuswire {

namespace {

constexpr size_t kHeaderLen = sizeof(ubus_msghdr) + sizeof(blob_attr);

// The blob type each message attribute must hold; BLOB_ATTR_UNSPEC for
// attributes taken as they come (nested lists are checked by their readers).
constexpr unsigned int attr_type(unsigned int id)
{
	switch (id) {
	case UBUS_ATTR_STATUS:
	case UBUS_ATTR_OBJID:
	case UBUS_ATTR_OBJTYPE:
	case UBUS_ATTR_TARGET:
		return BLOB_ATTR_INT32;
	case UBUS_ATTR_OBJPATH:
	case UBUS_ATTR_METHOD:
	case UBUS_ATTR_USER:
	case UBUS_ATTR_GROUP:
		return BLOB_ATTR_STRING;
	case UBUS_ATTR_ACTIVE:
	case UBUS_ATTR_NO_REPLY:
		return BLOB_ATTR_INT8;
	default:
		return BLOB_ATTR_UNSPEC;
	}
}

// Room for the many small messages a busy socket holds at once; a message
// larger than this is read into storage of its own.
constexpr size_t kBufferLen = 8192;

// Calls f with every descriptor a receive brought.
template <typename F>
void for_each_fd(msghdr &mh, F f)
{
	for (cmsghdr *c = CMSG_FIRSTHDR(&mh); c; c = CMSG_NXTHDR(&mh, c)) {
		if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
			continue;
		size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
		for (size_t i = 0; i < count; i++) {
			int fd;
			std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
			f(fd);
		}
	}
}

// The message header's fields, from the first bytes of a message.
void read_header(const char *p, Message &out)
{
	uint16_t seq;
	uint32_t peer;
	std::memcpy(&seq, p + 2, sizeof(seq));
	std::memcpy(&peer, p + 4, sizeof(peer));
	out.version = static_cast<uint8_t>(p[0]);
	out.type = static_cast<uint8_t>(p[1]);
	out.seq = be16_to_cpu(seq);
	out.peer = be32_to_cpu(peer);
}

bool again(int err)
{
	return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}

} // namespace

Message &Message::operator=(Message &&other) noexcept
{
	if (this != &other) {
		if (fd >= 0)
			close(fd);
		version = other.version;
		type = other.type;
		seq = other.seq;
		peer = other.peer;
		storage = std::move(other.storage);
		fd = other.take_fd();
	}
	return *this;
}

Message::~Message()
{
	if (fd >= 0)
		close(fd);
}

Reader::~Reader()
{
	for (const HeldFd &h : fds_)
		close(h.fd);
}

// One receive of at most len bytes into buf, whose first byte is at stream
// offset at; descriptors that come along are held with the offset of the
// last byte received.
ssize_t Reader::receive(int sock, void *buf, size_t len, uint64_t at)
{
	iovec iov = {buf, len};
	alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)];
	msghdr mh = {};
	mh.msg_iov = &iov;
	mh.msg_iovlen = 1;
	mh.msg_control = control;
	mh.msg_controllen = sizeof(control);
	ssize_t n = recvmsg(sock, &mh, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
	if (n < 0)
		return n;
	if (n == 0) {
		for_each_fd(mh, [](int fd) { close(fd); });
		return n;
	}
	const uint64_t last = at + static_cast<uint64_t>(n) - 1;
	for_each_fd(mh, [&](int fd) { fds_.push_back({fd, last}); });
	return n;
}

char *Reader::bytes()
{
	return reinterpret_cast<char *>(buf_.data());
}

const char *Reader::bytes() const
{
	return reinterpret_cast<const char *>(buf_.data());
}

// The attribute list's length from a buffered header (kHeaderLen bytes at start_).
bool Reader::header_length(size_t &raw) const
{
	blob_attr head;
	std::memcpy(&head, bytes() + start_ + sizeof(ubus_msghdr), sizeof(head));
	raw = blob_raw_len(&head);
	return raw >= sizeof(blob_attr) && raw <= wlc::platform::kBusMaxMessageLength + sizeof(blob_attr);
}

bool Reader::whole_message_buffered() const
{
	if (large_active_)
		return large_have_ == large_len_;
	size_t have = end_ - start_;
	if (have < kHeaderLen)
		return false;
	size_t raw;
	// An invalid header is something to report, as a whole message is.
	return !header_length(raw) || have >= sizeof(ubus_msghdr) + raw;
}

// Gives the held descriptors whose last byte lies in [begin, end) to out: the
// first one, the others are closed.
void Reader::attach_fds(Message &out, uint64_t begin, uint64_t end)
{
	auto mine = [&](const HeldFd &h) { return h.last_byte < end; };
	for (const HeldFd &h : fds_) {
		if (!mine(h))
			continue;
		if (out.fd < 0 && h.last_byte >= begin)
			out.fd = h.fd;
		else
			close(h.fd);
	}
	fds_.erase(std::remove_if(fds_.begin(), fds_.end(), mine), fds_.end());
}

ReadResult Reader::fill(int sock)
{
	if (buf_.empty())
		buf_.resize(kBufferLen / sizeof(uint32_t));
	if (start_ > 0) {
		std::memmove(bytes(), bytes() + start_, end_ - start_);
		end_ -= start_;
		start_ = 0;
	}
	size_t room = kBufferLen - end_;
	ssize_t n = receive(sock, bytes() + end_, room, offset_ + end_);
	if (n == 0)
		return ReadResult::Closed;
	if (n < 0)
		return again(errno) ? ReadResult::Again : ReadResult::Closed;
	end_ += static_cast<size_t>(n);
	drained_ = static_cast<size_t>(n) < room;
	return ReadResult::Message;
}

ReadResult Reader::fill_large(int sock)
{
	char *dest = reinterpret_cast<char *>(large_.storage.data()) + large_have_;
	size_t want = large_len_ - large_have_;
	ssize_t n = receive(sock, dest, want, large_begin_ + sizeof(ubus_msghdr) + large_have_);
	if (n == 0)
		return ReadResult::Closed;
	if (n < 0)
		return again(errno) ? ReadResult::Again : ReadResult::Closed;
	large_have_ += static_cast<size_t>(n);
	drained_ = static_cast<size_t>(n) < want;
	return ReadResult::Message;
}

// Moves the buffered start of a message too large for the buffer into its
// own storage, where the rest will be received.
void Reader::start_large(size_t raw)
{
	const size_t have = end_ - start_;
	read_header(bytes() + start_, large_);
	large_.storage.assign((raw + 3) / 4, 0);
	std::memcpy(large_.storage.data(), bytes() + start_ + sizeof(ubus_msghdr), have - sizeof(ubus_msghdr));
	large_have_ = have - sizeof(ubus_msghdr);
	large_len_ = raw;
	large_begin_ = offset_;
	large_active_ = true;
	offset_ += have;
	start_ = end_ = 0;
}

void Reader::take_buffered(Message &out, size_t raw)
{
	const size_t total = sizeof(ubus_msghdr) + raw;
	read_header(bytes() + start_, out);
	out.storage.assign((raw + 3) / 4, 0);
	std::memcpy(out.storage.data(), bytes() + start_ + sizeof(ubus_msghdr), raw);
	attach_fds(out, offset_, offset_ + total);
	start_ += total;
	offset_ += total;
	if (start_ == end_)
		start_ = end_ = 0;
}

void Reader::take_large(Message &out)
{
	const uint64_t begin = large_begin_;
	out = std::move(large_);
	large_ = Message();
	large_active_ = false;
	attach_fds(out, begin, begin + sizeof(ubus_msghdr) + large_len_);
}

ReadResult Reader::read(int sock, Message &out)
{
	if (out.fd >= 0)
		close(out.fd);
	out.fd = -1;
	for (;;) {
		if (large_active_) {
			if (large_have_ == large_len_) {
				take_large(out);
				return ReadResult::Message;
			}
			ReadResult r = fill_large(sock);
			if (r != ReadResult::Message)
				return r;
			continue;
		}
		if (end_ - start_ >= kHeaderLen) {
			size_t raw;
			if (!header_length(raw))
				return ReadResult::Invalid;
			if (end_ - start_ >= sizeof(ubus_msghdr) + raw) {
				take_buffered(out, raw);
				return ReadResult::Message;
			}
			if (sizeof(ubus_msghdr) + raw > kBufferLen) {
				start_large(raw);
				continue;
			}
		}
		ReadResult r = fill(sock);
		if (r != ReadResult::Message)
			return r;
	}
}

Outgoing encode(uint8_t type, uint16_t seq, uint32_t peer, const blob_attr *attrs, int fd)
{
	Outgoing m;
	ubus_msghdr hdr = {};
	hdr.type = type;
	hdr.seq = cpu_to_be16(seq);
	hdr.peer = cpu_to_be32(peer);
	size_t len = attrs ? blob_raw_len(attrs) : sizeof(blob_attr);
	m.bytes.resize(sizeof(hdr) + len);
	std::memcpy(m.bytes.data(), &hdr, sizeof(hdr));
	if (attrs) {
		std::memcpy(m.bytes.data() + sizeof(hdr), attrs, len);
	} else {
		uint32_t empty = cpu_to_be32(sizeof(blob_attr));
		std::memcpy(m.bytes.data() + sizeof(hdr), &empty, sizeof(empty));
	}
	m.fd = fd;
	return m;
}

WriteResult write_some(int sock, Outgoing &msg)
{
	while (msg.offset < msg.bytes.size()) {
		iovec iov = {msg.bytes.data() + msg.offset, msg.bytes.size() - msg.offset};
		msghdr mh = {};
		mh.msg_iov = &iov;
		mh.msg_iovlen = 1;
		alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
		if (msg.offset == 0 && msg.fd >= 0) {
			mh.msg_control = control;
			mh.msg_controllen = sizeof(control);
			cmsghdr *c = CMSG_FIRSTHDR(&mh);
			c->cmsg_level = SOL_SOCKET;
			c->cmsg_type = SCM_RIGHTS;
			c->cmsg_len = CMSG_LEN(sizeof(int));
			std::memcpy(CMSG_DATA(c), &msg.fd, sizeof(int));
		}
		ssize_t n = sendmsg(sock, &mh, MSG_NOSIGNAL | MSG_DONTWAIT);
		if (n < 0) {
			if (errno == EINTR)
				continue;
			return errno == EAGAIN || errno == EWOULDBLOCK ? WriteResult::Partial : WriteResult::Error;
		}
		msg.offset += static_cast<size_t>(n);
	}
	return WriteResult::Done;
}

namespace {

constexpr size_t kMaxGather = 64;

// The messages from the front that go out in one write: a message with a
// descriptor still to pass goes alone, and none follows it.
size_t gather(std::deque<Outgoing> &queue, iovec *iov)
{
	size_t n = 0;
	for (Outgoing &m : queue) {
		bool passes_fd = m.fd >= 0 && m.offset == 0;
		if (n == kMaxGather || (passes_fd && n > 0))
			break;
		iov[n++] = {m.bytes.data() + m.offset, m.bytes.size() - m.offset};
		if (passes_fd)
			break;
	}
	return n;
}

// Takes n written bytes off the front of the queue.
void consume(std::deque<Outgoing> &queue, size_t n)
{
	while (n > 0 && !queue.empty()) {
		Outgoing &m = queue.front();
		size_t left = m.bytes.size() - m.offset;
		size_t take = std::min(left, n);
		m.offset += take;
		n -= take;
		if (m.offset < m.bytes.size())
			break;
		if (m.fd >= 0)
			close(m.fd);
		queue.pop_front();
	}
}

} // namespace

WriteResult write_queue(int sock, std::deque<Outgoing> &queue, size_t &written)
{
	written = 0;
	while (!queue.empty()) {
		if (queue.front().fd >= 0 && queue.front().offset == 0) {
			Outgoing &m = queue.front();
			WriteResult r = write_some(sock, m);
			written += m.offset;
			if (r != WriteResult::Done)
				return r;
			if (m.fd >= 0)
				close(m.fd);
			queue.pop_front();
			continue;
		}
		iovec iov[kMaxGather];
		msghdr mh = {};
		mh.msg_iov = iov;
		mh.msg_iovlen = gather(queue, iov);
		ssize_t n = sendmsg(sock, &mh, MSG_NOSIGNAL | MSG_DONTWAIT);
		if (n < 0) {
			if (errno == EINTR)
				continue;
			return errno == EAGAIN || errno == EWOULDBLOCK ? WriteResult::Partial : WriteResult::Error;
		}
		written += static_cast<size_t>(n);
		consume(queue, static_cast<size_t>(n));
	}
	return WriteResult::Done;
}

bool parse_attrs(const Message &msg, blob_attr **tb)
{
	auto *attrs = const_cast<blob_attr *>(msg.attrs());
	std::memset(tb, 0, sizeof(*tb) * UBUS_ATTR_MAX);
	size_t total = blob_raw_len(attrs);
	blob_attr *pos;
	size_t rem;
	blob_for_each_attr_len(pos, blob_data(attrs), total - sizeof(blob_attr), rem) {
		unsigned int id = blob_id(pos);
		if (id >= UBUS_ATTR_MAX)
			continue;
		const unsigned int type = attr_type(id);
		if (type != BLOB_ATTR_UNSPEC &&
		    !blob_check_type(blob_data(pos), static_cast<unsigned int>(blob_len(pos)), static_cast<int>(type)))
			return false;
		tb[id] = pos;
	}
	// Anything left over means a member claimed more bytes than the list holds.
	return rem == 0;
}

} // namespace ubuswire
