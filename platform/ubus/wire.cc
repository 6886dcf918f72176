// Reading and writing framed bus messages, with descriptor passing.
#include "wire.h"

#include <cerrno>
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

void keep_fd(int &slot, int fd)
{
	if (slot >= 0)
		close(fd);
	else
		slot = fd;
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
	if (fd_ >= 0)
		close(fd_);
}

ssize_t Reader::receive(int sock, void *buf, size_t len)
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
	for (cmsghdr *c = CMSG_FIRSTHDR(&mh); c; c = CMSG_NXTHDR(&mh, c)) {
		if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
			continue;
		size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
		for (size_t i = 0; i < count; i++) {
			int fd;
			std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
			keep_fd(fd_, fd);
		}
	}
	return n;
}

ReadResult Reader::read(int sock, Message &out)
{
	while (header_have_ < kHeaderLen) {
		ssize_t n = receive(sock, header_ + header_have_, kHeaderLen - header_have_);
		if (n == 0)
			return ReadResult::Closed;
		if (n < 0)
			return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? ReadResult::Again
											: ReadResult::Closed;
		header_have_ += static_cast<size_t>(n);
		if (header_have_ < kHeaderLen)
			continue;
		blob_attr head;
		std::memcpy(&head, header_ + sizeof(ubus_msghdr), sizeof(head));
		size_t raw = blob_raw_len(&head);
		if (raw < sizeof(blob_attr) || raw > wlc::platform::kBusMaxMessageLength + sizeof(blob_attr))
			return ReadResult::Invalid;
		body_len_ = raw - sizeof(blob_attr);
		body_.assign((raw + 3) / 4, 0);
		std::memcpy(body_.data(), &head, sizeof(head));
		body_have_ = 0;
	}
	while (body_have_ < body_len_) {
		char *dest = reinterpret_cast<char *>(body_.data()) + sizeof(blob_attr) + body_have_;
		ssize_t n = receive(sock, dest, body_len_ - body_have_);
		if (n == 0)
			return ReadResult::Closed;
		if (n < 0)
			return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? ReadResult::Again
											: ReadResult::Closed;
		body_have_ += static_cast<size_t>(n);
	}
	out.version = header_[0];
	out.type = header_[1];
	uint16_t seq;
	uint32_t peer;
	std::memcpy(&seq, header_ + 2, sizeof(seq));
	std::memcpy(&peer, header_ + 4, sizeof(peer));
	out.seq = be16_to_cpu(seq);
	out.peer = be32_to_cpu(peer);
	out.storage = std::move(body_);
	if (out.fd >= 0)
		close(out.fd);
	out.fd = fd_;
	fd_ = -1;
	header_have_ = 0;
	body_have_ = body_len_ = 0;
	body_.clear();
	return ReadResult::Message;
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
