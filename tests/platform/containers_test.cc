// The key/value list and descriptor streams.
#include <wlc/c/ubox.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

TEST(Kvlist, KeepsKeyOrderAndReplacesValues)
{
	kvlist kv;
	kvlist_init(&kv, kvlist_strlen);
	EXPECT_TRUE(kvlist_set(&kv, "rai0", "wlan1"));
	EXPECT_TRUE(kvlist_set(&kv, "ra0", "wlan0"));
	EXPECT_TRUE(kvlist_set(&kv, "ra1", "wlanX"));
	EXPECT_TRUE(kvlist_set(&kv, "ra1", "wlan2"));
	EXPECT_STREQ(static_cast<const char *>(kvlist_get(&kv, "ra1")), "wlan2");
	EXPECT_EQ(kvlist_get(&kv, "eth0"), nullptr);
	EXPECT_TRUE(kvlist_delete(&kv, "ra0"));
	EXPECT_FALSE(kvlist_delete(&kv, "ra0"));
	std::vector<std::string> seen;
	const char *name;
	void *value;
	kvlist_for_each(&kv, name, value)
		seen.push_back(std::string(name) + "=" + static_cast<const char *>(value));
	EXPECT_EQ(seen, (std::vector<std::string>{"ra1=wlan2", "rai0=wlan1"}));
	kvlist_free(&kv);
}

struct Collector {
	ustream_fd s;
	std::vector<std::string> records;
	bool ended = false;
};

// Takes whole length-prefixed records (1 length byte) and leaves partial ones.
void take_records(ustream *s, int)
{
	Collector *c = container_of(s, Collector, s.stream);
	int len;
	char *buf;
	while ((buf = ustream_get_read_buf(s, &len)) && len >= 1) {
		int need = 1 + static_cast<unsigned char>(buf[0]);
		if (len < need)
			break;
		c->records.emplace_back(buf + 1, static_cast<size_t>(need - 1));
		ustream_consume(s, need);
	}
}

TEST(Ustream, DeliversWholeRecordsAndKeepsTheRest)
{
	uloop_init();
	int p[2];
	ASSERT_EQ(pipe(p), 0);
	Collector c{};
	c.s.stream.notify_read = take_records;
	c.s.stream.notify_state = [](ustream *s) {
		container_of(s, Collector, s.stream)->ended = s->eof;
		uloop_end();
	};
	ustream_fd_init(&c.s, p[0]);
	ASSERT_EQ(write(p[1], "\x03" "abc" "\x05" "de", 7), 7); // one and a half records
	uloop_run_timeout(100);
	EXPECT_EQ(c.records, std::vector<std::string>{"abc"});
	int pending = ustream_pending_data(&c.s.stream, false);
	EXPECT_EQ(pending, 3);
	ASSERT_EQ(write(p[1], "fgh", 3), 3);
	close(p[1]);
	uloop_run_timeout(1000);
	EXPECT_EQ(c.records, (std::vector<std::string>{"abc", "defgh"}));
	EXPECT_TRUE(c.ended);
	ustream_free(&c.s.stream);
	close(p[0]);
	uloop_done();
}

TEST(Ustream, WritesWhatTheDescriptorTakesLater)
{
	uloop_init();
	int p[2];
	ASSERT_EQ(pipe2(p, O_NONBLOCK), 0);
	ustream_fd w{};
	ustream_fd_init(&w, p[1]);
	std::string big(256 * 1024, 'x'); // more than a pipe holds
	EXPECT_EQ(ustream_write(&w.stream, big.data(), static_cast<int>(big.size()), false), static_cast<int>(big.size()));
	EXPECT_GT(ustream_pending_data(&w.stream, true), 0);
	size_t got = 0;
	char buf[65536];
	while (got < big.size()) {
		uloop_run_timeout(5);
		ssize_t n;
		while ((n = read(p[0], buf, sizeof(buf))) > 0)
			got += static_cast<size_t>(n);
	}
	EXPECT_EQ(got, big.size());
	EXPECT_EQ(ustream_pending_data(&w.stream, true), 0);
	ustream_free(&w.stream);
	close(p[0]);
	close(p[1]);
	uloop_done();
}

} // namespace
