// The stand-in bus daemon of the read path tests.
#include "standin_daemon.h"

#include <wlc/c/ubox.h>

#include <chrono>
#include <cstring>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "harness.h"

namespace wlctest {

namespace {

bool read_exact(int fd, void *buf, size_t len)
{
	auto *p = static_cast<uint8_t *>(buf);
	while (len > 0) {
		ssize_t n = recv(fd, p, len, 0);
		if (n <= 0)
			return false;
		p += n;
		len -= static_cast<size_t>(n);
	}
	return true;
}

} // namespace

Bytes wire_bytes(uint8_t type, uint16_t seq, uint32_t peer, const blob_buf &b)
{
	ubus_msghdr hdr = {};
	hdr.type = type;
	hdr.seq = cpu_to_be16(seq);
	hdr.peer = cpu_to_be32(peer);
	const size_t len = blob_raw_len(b.head);
	Bytes out(sizeof(hdr) + len);
	std::memcpy(out.data(), &hdr, sizeof(hdr));
	std::memcpy(out.data() + sizeof(hdr), b.head, len);
	return out;
}

Bytes data_reply(uint16_t seq, uint32_t obj, const std::string &value)
{
	blob_buf b = {};
	blob_buf_init(&b, 0);
	blob_put_int32(&b, UBUS_ATTR_OBJID, obj);
	void *data = blob_nest_start(&b, UBUS_ATTR_DATA);
	blobmsg_add_string(&b, "v", value.c_str());
	blob_nest_end(&b, data);
	Bytes out = wire_bytes(UBUS_MSG_DATA, seq, obj, b);
	blob_buf_free(&b);
	return out;
}

Bytes status_reply(uint16_t seq, uint32_t obj, int status)
{
	blob_buf b = {};
	blob_buf_init(&b, 0);
	blob_put_int32(&b, UBUS_ATTR_STATUS, static_cast<uint32_t>(status));
	blob_put_int32(&b, UBUS_ATTR_OBJID, obj);
	Bytes out = wire_bytes(UBUS_MSG_STATUS, seq, obj, b);
	blob_buf_free(&b);
	return out;
}

StandInDaemon::StandInDaemon(const std::string &path, uint32_t client_id, Script script)
{
	listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_un addr = {};
	addr.sun_family = AF_UNIX;
	std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
	EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)), 0);
	EXPECT_EQ(listen(listener_, 1), 0);
	thread_ = std::thread([this, client_id, script = std::move(script)] {
		int cl = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
		if (cl < 0)
			return;
		blob_buf b = {};
		blob_buf_init(&b, 0);
		write_once(cl, wire_bytes(UBUS_MSG_HELLO, 0, client_id, b));
		blob_buf_free(&b);
		script(cl);
		close(cl);
	});
}

StandInDaemon::~StandInDaemon()
{
	shutdown(listener_, SHUT_RDWR);
	join();
	close(listener_);
}

void StandInDaemon::join()
{
	if (thread_.joinable())
		thread_.join();
}

WireMsg StandInDaemon::read_msg(int client)
{
	WireMsg m;
	uint8_t hdr[12];
	if (!read_exact(client, hdr, sizeof(hdr)))
		return m;
	uint16_t seq;
	uint32_t peer;
	std::memcpy(&seq, hdr + 2, sizeof(seq));
	std::memcpy(&peer, hdr + 4, sizeof(peer));
	m.type = hdr[1];
	m.seq = be16_to_cpu(seq);
	m.peer = be32_to_cpu(peer);
	blob_attr head;
	std::memcpy(&head, hdr + 8, sizeof(head));
	size_t raw = blob_raw_len(&head);
	if (raw < sizeof(head))
		return m;
	m.attrs.assign(hdr + 8, hdr + 12);
	m.attrs.resize(raw);
	m.ok = read_exact(client, m.attrs.data() + sizeof(head), raw - sizeof(head));
	return m;
}

bool StandInDaemon::write_once(int client, const Bytes &bytes, int fd)
{
	iovec iov = {const_cast<uint8_t *>(bytes.data()), bytes.size()};
	msghdr mh = {};
	mh.msg_iov = &iov;
	mh.msg_iovlen = 1;
	alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
	if (fd >= 0) {
		mh.msg_control = control;
		mh.msg_controllen = sizeof(control);
		cmsghdr *c = CMSG_FIRSTHDR(&mh);
		c->cmsg_level = SOL_SOCKET;
		c->cmsg_type = SCM_RIGHTS;
		c->cmsg_len = CMSG_LEN(sizeof(int));
		std::memcpy(CMSG_DATA(c), &fd, sizeof(int));
	}
	return sendmsg(client, &mh, MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

bool StandInDaemon::write_in_pieces(int client, const Bytes &bytes, const std::vector<size_t> &cuts)
{
	size_t from = 0;
	std::vector<size_t> ends = cuts;
	ends.push_back(bytes.size());
	for (size_t end : ends) {
		if (end <= from || end > bytes.size())
			continue;
		if (!wait_taken(client) || !write_once(client, Bytes(bytes.begin() + static_cast<long>(from),
								     bytes.begin() + static_cast<long>(end))))
			return false;
		from = end;
	}
	return true;
}

bool StandInDaemon::wait_taken(int client)
{
	// A stream socket's unread bytes stay charged to the writer until the
	// reader has taken them.
	return wait_until([&] {
		int queued = -1;
		return ioctl(client, SIOCOUTQ, &queued) == 0 && queued == 0;
	}, std::chrono::seconds(10));
}

} // namespace wlctest
