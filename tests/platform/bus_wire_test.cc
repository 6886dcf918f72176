// Our bus pieces against a session captured from the platform's own daemon,
// tool and example server: byte for byte in both directions.
#include <wlc/c/ubus.h>

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "harness.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Chunk {
	bool to_client;
	bool with_fd;
	Bytes bytes;
};

// The chunks of one side of the capture ("calling" or "serving").
std::vector<Chunk> capture(const std::string &side)
{
	std::istringstream in(wlctest::read_text(wlctest::data_path("ubus/call-session.txt")));
	std::vector<Chunk> chunks;
	std::string line;
	bool inside = false;
	while (std::getline(in, line)) {
		if (line.rfind("## ", 0) == 0) {
			inside = line.find(side) != std::string::npos;
			continue;
		}
		if (!inside || (line.rfind("ubusd->client", 0) != 0 && line.rfind("client->ubusd", 0) != 0))
			continue;
		Chunk c{line.rfind("ubusd->client", 0) == 0, line.find("SCM_RIGHTS") != std::string::npos, {}};
		std::getline(in, line);
		std::istringstream hex(line);
		unsigned int v;
		while (hex >> std::hex >> v)
			c.bytes.push_back(static_cast<uint8_t>(v));
		chunks.push_back(std::move(c));
	}
	return chunks;
}

// A stand-in daemon that replays the captured daemon side to one client and
// records what the client sends.
class ReplayDaemon {
public:
	explicit ReplayDaemon(const std::string &path) : path_(path)
	{
		listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
		sockaddr_un addr = {};
		addr.sun_family = AF_UNIX;
		std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
		EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)), 0);
		EXPECT_EQ(listen(listener_, 1), 0);
	}
	~ReplayDaemon() { close(listener_); }

	// Plays the chunks; returns what the client sent, one entry per expected message.
	std::vector<Chunk> play(const std::vector<Chunk> &chunks)
	{
		std::vector<Chunk> got;
		int cl = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
		timeval tv = {5, 0};
		setsockopt(cl, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
		for (const Chunk &c : chunks) {
			if (c.to_client) {
				send_chunk(cl, c);
				continue;
			}
			got.push_back(receive(cl, c.bytes.size()));
			if (got.back().bytes.size() != c.bytes.size())
				break;
		}
		close(cl);
		return got;
	}

private:
	static void send_chunk(int cl, const Chunk &c)
	{
		iovec iov = {const_cast<uint8_t *>(c.bytes.data()), c.bytes.size()};
		msghdr mh = {};
		mh.msg_iov = &iov;
		mh.msg_iovlen = 1;
		alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
		int fd = -1;
		if (c.with_fd) {
			int p[2];
			ASSERT_EQ(pipe(p), 0);
			ASSERT_EQ(write(p[1], "x", 1), 1);
			close(p[1]);
			fd = p[0];
			mh.msg_control = control;
			mh.msg_controllen = sizeof(control);
			cmsghdr *cm = CMSG_FIRSTHDR(&mh);
			cm->cmsg_level = SOL_SOCKET;
			cm->cmsg_type = SCM_RIGHTS;
			cm->cmsg_len = CMSG_LEN(sizeof(int));
			std::memcpy(CMSG_DATA(cm), &fd, sizeof(int));
		}
		ASSERT_EQ(sendmsg(cl, &mh, MSG_NOSIGNAL), static_cast<ssize_t>(c.bytes.size()));
		if (fd >= 0)
			close(fd);
	}

	static Chunk receive(int cl, size_t len)
	{
		Chunk c{false, false, Bytes(len)};
		size_t have = 0;
		while (have < len) {
			iovec iov = {c.bytes.data() + have, len - have};
			alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
			msghdr mh = {};
			mh.msg_iov = &iov;
			mh.msg_iovlen = 1;
			mh.msg_control = control;
			mh.msg_controllen = sizeof(control);
			ssize_t n = recvmsg(cl, &mh, MSG_CMSG_CLOEXEC);
			if (n <= 0)
				break;
			for (cmsghdr *cm = CMSG_FIRSTHDR(&mh); cm; cm = CMSG_NXTHDR(&mh, cm)) {
				if (cm->cmsg_type == SCM_RIGHTS) {
					int fd;
					std::memcpy(&fd, CMSG_DATA(cm), sizeof(int));
					close(fd);
					c.with_fd = true;
				}
			}
			have += static_cast<size_t>(n);
		}
		c.bytes.resize(have);
		return c;
	}

	std::string path_;
	int listener_ = -1;
};

std::vector<Chunk> from_client(const std::vector<Chunk> &chunks)
{
	std::vector<Chunk> out;
	for (const auto &c : chunks)
		if (!c.to_client)
			out.push_back(c);
	return out;
}

TEST(BusWire, CallingClientSendsThePlatformsBytes)
{
	wlctest::TempRoot root;
	std::string sock = root.at("/ubus.sock");
	ReplayDaemon daemon(sock);
	auto chunks = capture("calling client");
	ASSERT_EQ(chunks.size(), 11u);
	std::vector<Chunk> sent;
	std::thread t([&] { sent = daemon.play(chunks); });
	auto r = wlctest::run({wlctest::ubus_tool(), "-s", sock, "call", "test", "hello", R"({"id":1,"msg":"hi"})"});
	t.join();
	auto expected = from_client(chunks);
	ASSERT_EQ(sent.size(), expected.size());
	for (size_t i = 0; i < sent.size(); i++)
		EXPECT_EQ(sent[i].bytes, expected[i].bytes) << "message " << i;
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "{\n\t\"message\": \"test received a message: hi\"\n}\n");
}

TEST(BusWire, ServingClientSendsThePlatformsBytes)
{
	wlctest::TempRoot root;
	std::string sock = root.at("/ubus.sock");
	ReplayDaemon daemon(sock);
	auto chunks = capture("serving client");
	wlctest::Process server({wlctest::program("bus_test_server"), "-s", sock, "-c"});
	auto sent = daemon.play(chunks);
	auto expected = from_client(chunks);
	ASSERT_EQ(sent.size(), expected.size());
	for (size_t i = 0; i < sent.size(); i++) {
		EXPECT_EQ(sent[i].bytes, expected[i].bytes) << "message " << i;
		EXPECT_EQ(sent[i].with_fd, expected[i].with_fd) << "message " << i;
	}
}

// Reads one whole message (header, then attributes) from a raw socket.
Bytes read_message(int fd)
{
	Bytes m(12);
	if (recv(fd, m.data(), 12, MSG_WAITALL) != 12)
		return {};
	uint32_t len;
	std::memcpy(&len, m.data() + 8, 4);
	len = be32_to_cpu(len) & BLOB_ATTR_LEN_MASK;
	m.resize(8 + len);
	if (len > 4 && recv(fd, m.data() + 12, len - 4, MSG_WAITALL) != static_cast<ssize_t>(len - 4))
		return {};
	return m;
}

uint32_t u32_at(const Bytes &b, size_t off)
{
	uint32_t v;
	std::memcpy(&v, b.data() + off, 4);
	return be32_to_cpu(v);
}

void put_u32(Bytes &b, size_t off, uint32_t v)
{
	v = cpu_to_be32(v);
	std::memcpy(b.data() + off, &v, 4);
}

TEST(BusWire, DaemonAnswersThePlatformsClientBytes)
{
	// The captured client's messages, sent raw to our daemon with our example
	// server behind it, get the captured answers (ids aside).
	wlctest::TempRoot root;
	wlctest::BusDaemon bus(root);
	wlctest::Process server({wlctest::program("bus_test_server"), "-s", bus.socket(), "-c"});
	ubus_context *probe = nullptr;
	ASSERT_TRUE(wlctest::wait_until([&] {
		if (!probe)
			probe = ubus_connect(bus.socket().c_str());
		uint32_t id;
		return probe && ubus_lookup_id(probe, "test", &id) == 0;
	}, std::chrono::seconds(5)));
	ubus_free(probe);

	auto chunks = capture("calling client");
	int fd = wlctest::connect_unix(bus.socket());
	ASSERT_GE(fd, 0);

	Bytes hello = read_message(fd);
	ASSERT_EQ(hello.size(), 12u);
	EXPECT_EQ(Bytes(hello.begin(), hello.begin() + 4), Bytes({0, 0, 0, 0}));
	EXPECT_EQ(u32_at(hello, 8), 4u);

	// Lookup: the object's data with its signature, then status 0.
	Bytes lookup = chunks[1].bytes;
	ASSERT_EQ(send(fd, lookup.data(), lookup.size(), 0), static_cast<ssize_t>(lookup.size()));
	Bytes data = read_message(fd);
	Bytes want = chunks[2].bytes;
	want.insert(want.end(), chunks[3].bytes.begin(), chunks[3].bytes.end());
	ASSERT_EQ(data.size(), want.size());
	uint32_t obj_id = u32_at(data, 12 + 12 + 4);
	put_u32(want, 12 + 12 + 4, obj_id);
	put_u32(want, 12 + 12 + 8 + 4, u32_at(data, 12 + 12 + 8 + 4)); // type id
	EXPECT_EQ(data, want);
	Bytes status = read_message(fd);
	Bytes want_status = chunks[4].bytes;
	want_status.insert(want_status.end(), chunks[5].bytes.begin(), chunks[5].bytes.end());
	EXPECT_EQ(status, want_status);

	// Invoke: the reply data, then the status with a descriptor.
	Bytes invoke = chunks[6].bytes;
	put_u32(invoke, 4, obj_id);
	put_u32(invoke, 16, obj_id);
	ASSERT_EQ(send(fd, invoke.data(), invoke.size(), 0), static_cast<ssize_t>(invoke.size()));
	Bytes reply = read_message(fd);
	Bytes want_reply = chunks[7].bytes;
	want_reply.insert(want_reply.end(), chunks[8].bytes.begin(), chunks[8].bytes.end());
	put_u32(want_reply, 4, obj_id);
	put_u32(want_reply, 16, obj_id);
	EXPECT_EQ(reply, want_reply);
	Bytes done = read_message(fd);
	Bytes want_done = chunks[9].bytes;
	want_done.insert(want_done.end(), chunks[10].bytes.begin(), chunks[10].bytes.end());
	put_u32(want_done, 4, obj_id);
	put_u32(want_done, 24, obj_id);
	EXPECT_EQ(done, want_done);
	close(fd);
}

TEST(BusWire, DaemonDropsClientWithOversizedMessage)
{
	wlctest::TempRoot root;
	wlctest::BusDaemon bus(root);
	int fd = wlctest::connect_unix(bus.socket());
	ASSERT_GE(fd, 0);
	ASSERT_EQ(read_message(fd).size(), 12u);
	// Claims 16 MiB of attributes: the daemon hangs up instead of allocating it.
	Bytes huge = {0, UBUS_MSG_LOOKUP, 0, 1, 0, 0, 0, 0, 0x00, 0xff, 0xff, 0xff};
	ASSERT_EQ(send(fd, huge.data(), huge.size(), 0), 12);
	char c;
	EXPECT_EQ(recv(fd, &c, 1, 0), 0);
	close(fd);
	// The daemon still serves others.
	ubus_context *ctx = ubus_connect(bus.socket().c_str());
	ASSERT_NE(ctx, nullptr);
	ubus_free(ctx);
}

TEST(BusWire, DaemonRefusesAttributesThatDoNotHoldTogether)
{
	wlctest::TempRoot root;
	wlctest::BusDaemon bus(root);
	int fd = wlctest::connect_unix(bus.socket());
	ASSERT_GE(fd, 0);
	ASSERT_EQ(read_message(fd).size(), 12u);
	// A lookup whose path attribute claims 64 bytes inside a 16-byte list.
	Bytes bad = {0, UBUS_MSG_LOOKUP, 0, 7, 0, 0, 0, 0, 0, 0, 0, 16,
		     0x02, 0, 0, 0x40, 't', 'e', 's', 't', 0, 0, 0, 0};
	ASSERT_EQ(send(fd, bad.data(), bad.size(), 0), static_cast<ssize_t>(bad.size()));
	Bytes status = read_message(fd);
	ASSERT_EQ(status.size(), 20u);
	EXPECT_EQ(status[1], UBUS_MSG_STATUS);
	EXPECT_EQ(status[3], 7);
	EXPECT_EQ(u32_at(status, 16), static_cast<uint32_t>(UBUS_STATUS_INVALID_ARGUMENT));
	close(fd);
}

} // namespace
