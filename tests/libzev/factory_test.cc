// The factory layout on a simulated partition.
#include <zev/factory.h>

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "harness.h"
#include "sim_site.h"

namespace {

class Factory : public ::testing::Test {
protected:
	void SetUp() override
	{
		site_ = std::make_unique<wlctest::SimSite>(root_, std::vector<wlctest::SimDevice>{{"ap1", ""}});
		site_->use("ap1");
	}
	std::string path(const std::string &abs) const { return site_->root_of("ap1") + abs; }
	std::vector<uint8_t> partition() const { return wlctest::read_bytes(path("/dev/mtd3")); }

	// Writes a layout file and opens it.
	zev_factory *open_layout(const std::string &json)
	{
		wlctest::write_text(path("/etc/test-layout.json"), json);
		return zev_factory_init("/etc/test-layout.json", 0);
	}

	wlctest::TempRoot root_;
	std::unique_ptr<wlctest::SimSite> site_;
};

std::vector<uint8_t> md5(const uint8_t *a, size_t alen, const uint8_t *b = nullptr, size_t blen = 0)
{
	std::vector<uint8_t> out(16);
	EVP_MD_CTX *ctx = EVP_MD_CTX_new();
	EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
	EVP_DigestUpdate(ctx, a, alen);
	if (b)
		EVP_DigestUpdate(ctx, b, blen);
	EVP_DigestFinal_ex(ctx, out.data(), nullptr);
	EVP_MD_CTX_free(ctx);
	return out;
}

TEST_F(Factory, LayoutsThatDoNotHoldTogetherOpenNothing)
{
	EXPECT_EQ(open_layout(R"({"partition": "Factory", "layout": []})"), nullptr);
	EXPECT_EQ(open_layout(R"({"partition": "Factory", "layout": [{"name": "lan", "offset": "0xE000"}]})"), nullptr);
	EXPECT_EQ(open_layout(R"({"layout": [{"name": "lan", "offset": "0xE000", "length": 6}]})"), nullptr);
	EXPECT_EQ(open_layout(R"({"partition": "NoSuchPart", "layout": [{"name": "lan", "offset": 1, "length": 6}]})"), nullptr);
	EXPECT_EQ(open_layout("not json"), nullptr);
	EXPECT_EQ(zev_factory_init("/etc/missing.json", 0), nullptr);
}

TEST_F(Factory, ReadsItemsFromTheStartAndFromTheEnd)
{
	zev_factory *f = open_layout(R"({"partition": "Factory", "layout": [
		{"name": "lan", "offset": "0xE000", "length": 6},
		{"name": "sn", "offset": "0x80!", "length": "32"},
		{"name": "octal", "offset": "0160000", "length": 6}]})");
	ASSERT_NE(f, nullptr);
	ASSERT_EQ(f->count, 3u);
	EXPECT_EQ(f->items[1].whence, SEEK_END);
	EXPECT_EQ(f->items[1].offset, -128);
	auto img = partition();
	uint8_t buf[128];
	ASSERT_EQ(zev_factory_layout_read(f, "sn", buf, 16), 16);
	EXPECT_EQ(0, std::memcmp(buf, img.data() + img.size() - 128, 16));
	ASSERT_EQ(zev_factory_layout_read(f, "lan", buf, sizeof(buf)), 6);
	EXPECT_EQ(0, std::memcmp(buf, img.data() + 0xE000, 6));
	ASSERT_EQ(zev_factory_layout_read(f, "octal", buf, sizeof(buf)), 6); // 0160000 is 0xE000
	EXPECT_EQ(0, std::memcmp(buf, img.data() + 0xE000, 6));
	std::memset(buf, 0x5A, sizeof(buf));
	EXPECT_EQ(zev_factory_layout_read(f, "nope", buf, sizeof(buf)), -1);
	EXPECT_EQ(buf[0], 0x5A);
	EXPECT_EQ(zev_factory_layout_write(f, "lan", buf, 6), -1);
	zev_factory_free(f);
	zev_factory_free(nullptr);
}

TEST_F(Factory, NumbersAreReadAsFarAsTheyMakeANumber)
{
	zev_factory *f = open_layout(R"j({"partition": "Factory", "layout": [
		{"name": "lan", "offset": "0xE000 (LAN MAC)", "length": "6 bytes"},
		{"name": "first", "offset": "", "length": 4},
		{"name": "real", "offset": 57344.0, "length": 6.9},
		{"name": "huge", "offset": "99999999999999999999999", "length": 6},
		{"name": "sn", "offset": "0x80!", "length": "99999999999999999999"}]})j");
	ASSERT_NE(f, nullptr);
	ASSERT_EQ(f->count, 5u);
	auto img = partition();
	uint8_t buf[128];
	ASSERT_EQ(zev_factory_layout_read(f, "lan", buf, sizeof(buf)), 6);
	EXPECT_EQ(0, std::memcmp(buf, img.data() + 0xE000, 6));
	ASSERT_EQ(zev_factory_layout_read(f, "first", buf, sizeof(buf)), 4);
	EXPECT_EQ(0, std::memcmp(buf, img.data(), 4));
	ASSERT_EQ(zev_factory_layout_read(f, "real", buf, sizeof(buf)), 6);
	EXPECT_EQ(0, std::memcmp(buf, img.data() + 0xE000, 6));
	EXPECT_EQ(zev_factory_layout_read(f, "huge", buf, sizeof(buf)), -1); // only this item is unreadable
	ASSERT_EQ(zev_factory_layout_read(f, "sn", buf, 16), 16);
	EXPECT_EQ(0, std::memcmp(buf, img.data() + img.size() - 128, 16));
	zev_factory_free(f);

	// Only a missing name, offset or length spoils the layout.
	EXPECT_EQ(open_layout(R"({"partition": "Factory", "layout": [{"offset": 0, "length": 6}]})"), nullptr);
	EXPECT_EQ(open_layout(R"({"partition": "Factory", "layout": [{"name": "a", "offset": 0, "length": null}]})"),
		  nullptr);
}

TEST_F(Factory, OffsetsFromTheEndOfAnyValueAreSafe)
{
	zev_factory *f = open_layout(R"({"partition": "Factory", "layout": [
		{"name": "far", "offset": "0x8000000000000000!", "length": 6},
		{"name": "max", "offset": "0xffffffffffffffff!", "length": 6}]})");
	ASSERT_NE(f, nullptr);
	EXPECT_EQ(f->items[0].whence, SEEK_END);
	EXPECT_EQ(f->items[0].offset, INT64_MIN);
	EXPECT_EQ(f->items[1].offset, 1); // wraps around
	uint8_t buf[8];
	EXPECT_EQ(zev_factory_layout_read(f, "far", buf, sizeof(buf)), -1);
	zev_factory_free(f);
}

TEST_F(Factory, ChecksumLeavesTheNamedItemOut)
{
	zev_factory *f = zev_factory_init(nullptr, 0);
	ASSERT_NE(f, nullptr);
	auto img = partition();
	uint8_t digest[16];
	ASSERT_EQ(zev_factory_layout_checksum(f, nullptr, digest), 16);
	EXPECT_EQ(std::vector<uint8_t>(digest, digest + 16), md5(img.data(), img.size()));
	ASSERT_EQ(zev_factory_layout_checksum(f, "crc", digest), 16);
	auto without = md5(img.data(), 0x1FFFE0);
	EXPECT_EQ(std::vector<uint8_t>(digest, digest + 16), without);
	EXPECT_EQ(zev_factory_layout_checksum(f, "nope", digest), -1);
	zev_factory_free(f);

	// Rewriting the stored checksum does not change the digest that leaves it out.
	int fd = open(path("/dev/mtd3").c_str(), O_WRONLY);
	ASSERT_GE(fd, 0);
	ASSERT_EQ(pwrite(fd, "00000000000000000000000000000000", 32, 0x1FFFE0), 32);
	close(fd);
	f = zev_factory_init(nullptr, 0);
	ASSERT_EQ(zev_factory_layout_checksum(f, "crc", digest), 16);
	EXPECT_EQ(std::vector<uint8_t>(digest, digest + 16), without);
	zev_factory_free(f);
}

TEST_F(Factory, ChecksumNeedsAnMtdDevice)
{
	// The same layout on a plain file in place of the MTD device: the driver
	// does not know it, so there is no checksum.
	wlctest::write_text(path("/proc/mtd"), "dev:    size   erasesize  name\nmtd7: 00200000 00010000 \"Factory\"\n");
	wlctest::write_text(path("/dev/mtd/7"), std::string(4096, '\xff'));
	zev_factory *f = zev_factory_init(nullptr, 0);
	ASSERT_NE(f, nullptr); // /dev/mtd7 is missing, /dev/mtd/7 opens
	uint8_t digest[16];
	EXPECT_EQ(zev_factory_layout_checksum(f, nullptr, digest), -1);
	zev_factory_free(f);
}

} // namespace
