// Checks and parsing of untrusted blobmsg data, and the JSON loader.
#include <wlc/c/ubox.h>
#include <wlc/c/blobmsg_json.h>
#include <wlc/platform_values.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "harness.h"

namespace {

class Buf {
public:
	Buf() { blob_buf_init(&b, 0); }
	~Buf() { blob_buf_free(&b); }
	blob_attr *first() { return static_cast<blob_attr *>(blob_data(b.head)); }
	blob_buf b = {};
};

// A copy of the first n bytes in a heap block of exactly that size, so that
// any read past it is caught by the address sanitizer.
std::unique_ptr<uint8_t[]> exact_copy(const void *src, size_t n)
{
	auto copy = std::make_unique<uint8_t[]>(n ? n : 1);
	std::memcpy(copy.get(), src, n);
	return copy;
}

void set_raw_len(std::vector<uint8_t> &bytes, size_t offset, uint32_t len)
{
	uint32_t v;
	std::memcpy(&v, bytes.data() + offset, 4);
	v = be32_to_cpu(v);
	v = (v & ~BLOB_ATTR_LEN_MASK) | len;
	v = cpu_to_be32(v);
	std::memcpy(bytes.data() + offset, &v, 4);
}

TEST(BlobmsgCheck, EveryTruncationIsRefusedWithoutOverread)
{
	Buf buf;
	void *t = blobmsg_open_table(&buf.b, "outer");
	void *a = blobmsg_open_array(&buf.b, "list");
	blobmsg_add_u32(&buf.b, nullptr, 1);
	blobmsg_add_string(&buf.b, nullptr, "two");
	blobmsg_add_u64(&buf.b, nullptr, 3);
	blobmsg_close_array(&buf.b, a);
	blobmsg_close_table(&buf.b, t);
	blob_attr *attr = buf.first();
	size_t full = blob_raw_len(attr);
	ASSERT_TRUE(blobmsg_check_attr_len(attr, true, full));
	for (size_t n = 0; n < full; n++) {
		auto copy = exact_copy(attr, n);
		EXPECT_FALSE(blobmsg_check_attr_len(reinterpret_cast<blob_attr *>(copy.get()), true, n)) << n;
		EXPECT_LT(blobmsg_check_array_len(reinterpret_cast<blob_attr *>(copy.get()), BLOBMSG_TYPE_UNSPEC, n), 0) << n;
	}
}

TEST(BlobmsgCheck, MalformedFieldsAreRefused)
{
	Buf buf;
	blobmsg_add_u32(&buf.b, "num", 7);
	blobmsg_add_string(&buf.b, "str", "abc");
	auto *head = buf.b.head;
	std::vector<uint8_t> bytes(reinterpret_cast<uint8_t *>(blob_data(head)),
				   reinterpret_cast<uint8_t *>(blob_data(head)) + blob_len(head));
	auto check_first = [](std::vector<uint8_t> v) {
		return blobmsg_check_attr_len(reinterpret_cast<blob_attr *>(v.data()), true, v.size());
	};
	ASSERT_TRUE(check_first(bytes));

	auto wrong_int_len = bytes;
	set_raw_len(wrong_int_len, 0, 4 + 8 + 3); // INT32 carrying 3 bytes
	EXPECT_FALSE(check_first(wrong_int_len));

	auto long_name = bytes;
	long_name[4] = 0x00;
	long_name[5] = 0x40; // name length beyond the field
	EXPECT_FALSE(check_first(long_name));

	auto unterminated_name = bytes;
	unterminated_name[9] = 'x'; // the NUL after "num"
	EXPECT_FALSE(check_first(unterminated_name));

	auto bad_type = bytes;
	bad_type[0] = 0x80 | 0x20; // type 32 does not exist
	EXPECT_FALSE(check_first(bad_type));

	// "str" starts after the 16-byte "num" field; drop its terminating NUL.
	auto unterminated_string = bytes;
	size_t str_off = 16;
	size_t last = str_off + 4 + 8 + 3;
	unterminated_string[last] = 'd';
	EXPECT_FALSE(blobmsg_check_attr_len(reinterpret_cast<blob_attr *>(unterminated_string.data() + str_off),
					    true, unterminated_string.size() - str_off));

	// A field whose length runs past the list.
	auto overlong = bytes;
	set_raw_len(overlong, 0, 0x00ffffff);
	EXPECT_FALSE(check_first(overlong));
}

TEST(BlobmsgCheck, ParseRefusesMalformedMatchAndIgnoresStrangers)
{
	Buf buf;
	blobmsg_add_u32(&buf.b, "id", 5);
	blobmsg_add_field(&buf.b, BLOBMSG_TYPE_UNSPEC, "", "xyz", 3); // nameless
	blobmsg_add_string(&buf.b, "name", "x");
	const blobmsg_policy policy[] = {{"id", BLOBMSG_TYPE_INT32}, {"name", BLOBMSG_TYPE_STRING},
					 {"wrong", BLOBMSG_TYPE_INT32}};
	blob_attr *tb[3];
	auto *head = buf.b.head;
	ASSERT_EQ(blobmsg_parse(policy, 3, tb, blob_data(head), static_cast<unsigned int>(blob_len(head))), 0);
	ASSERT_NE(tb[0], nullptr);
	EXPECT_EQ(blobmsg_get_u32(tb[0]), 5u);
	EXPECT_STREQ(blobmsg_get_string(tb[1]), "x");
	EXPECT_EQ(tb[2], nullptr);

	// A string with a wrong type in the policy is not taken.
	const blobmsg_policy typed[] = {{"name", BLOBMSG_TYPE_INT32}};
	ASSERT_EQ(blobmsg_parse(typed, 1, tb, blob_data(head), static_cast<unsigned int>(blob_len(head))), 0);
	EXPECT_EQ(tb[0], nullptr);

	// The matching field broken: the whole parse fails.
	std::vector<uint8_t> bytes(reinterpret_cast<uint8_t *>(blob_data(head)),
				   reinterpret_cast<uint8_t *>(blob_data(head)) + blob_len(head));
	set_raw_len(bytes, 0, 4 + 8 + 2);
	EXPECT_EQ(blobmsg_parse(policy, 1, tb, bytes.data(), static_cast<unsigned int>(bytes.size())), -1);

	// Nothing to parse.
	EXPECT_EQ(blobmsg_parse(policy, 3, tb, nullptr, 0), -EINVAL);
	EXPECT_EQ(tb[0], nullptr);
}

TEST(BlobmsgCheck, ArraysCountAndTypeCheck)
{
	Buf buf;
	void *a = blobmsg_open_array(&buf.b, "paths");
	blobmsg_add_string(&buf.b, nullptr, "/a");
	blobmsg_add_string(&buf.b, nullptr, "/b");
	blobmsg_close_array(&buf.b, a);
	void *m = blobmsg_open_array(&buf.b, "mixed");
	blobmsg_add_string(&buf.b, nullptr, "/a");
	blobmsg_add_u32(&buf.b, nullptr, 1);
	blobmsg_close_array(&buf.b, m);
	blob_attr *paths = buf.first();
	blob_attr *mixed = blob_next(paths);
	EXPECT_EQ(blobmsg_check_array(paths, BLOBMSG_TYPE_STRING), 2);
	EXPECT_EQ(blobmsg_check_array(mixed, BLOBMSG_TYPE_UNSPEC), 2);
	EXPECT_LT(blobmsg_check_array(mixed, BLOBMSG_TYPE_STRING), 0);
	EXPECT_LT(blobmsg_check_array(nullptr, BLOBMSG_TYPE_STRING), 0);

	const blobmsg_policy by_position[] = {{nullptr, BLOBMSG_TYPE_STRING}, {nullptr, BLOBMSG_TYPE_STRING}};
	blob_attr *tb[2];
	ASSERT_EQ(blobmsg_parse_array(by_position, 2, tb, blobmsg_data(mixed),
				      static_cast<unsigned int>(blobmsg_data_len(mixed))), 0);
	EXPECT_STREQ(blobmsg_get_string(tb[0]), "/a");
	EXPECT_EQ(tb[1], nullptr); // the second element is an integer
}

TEST(BlobmsgCheck, NestingDeeperThanTheLimitIsRefused)
{
	Buf buf;
	std::vector<void *> cookies;
	for (int i = 0; i < wlc::platform::kBlobmsgMaxDepth + 8; i++)
		cookies.push_back(blobmsg_open_table(&buf.b, "t"));
	blobmsg_add_u8(&buf.b, "leaf", 1);
	while (!cookies.empty()) {
		blobmsg_close_table(&buf.b, cookies.back());
		cookies.pop_back();
	}
	EXPECT_FALSE(blobmsg_check_attr(buf.first(), true));
	char *json = blobmsg_format_json(buf.b.head, true);
	ASSERT_NE(json, nullptr);
	EXPECT_EQ(std::string(json), "{}");
	std::free(json);
}

TEST(BlobmsgCheck, BlobParseKeepsAttributesInsideTheGivenLength)
{
	Buf buf;
	blob_put_u32(&buf.b, 3, 42);
	blob_put_string(&buf.b, 2, "path");
	std::vector<uint8_t> bytes(reinterpret_cast<uint8_t *>(buf.b.head),
				   reinterpret_cast<uint8_t *>(buf.b.head) + blob_pad_len(buf.b.head));
	const blob_attr_info info[4] = {{}, {}, {BLOB_ATTR_STRING, 0, 0, nullptr}, {BLOB_ATTR_INT32, 0, 0, nullptr}};
	blob_attr *tb[4];
	auto *head = reinterpret_cast<blob_attr *>(bytes.data());
	EXPECT_EQ(blob_parse_untrusted(head, bytes.size(), tb, info, 4), 2);
	EXPECT_EQ(blob_get_u32(tb[3]), 42u);
	EXPECT_STREQ(blob_get_string(tb[2]), "path");
	// A header claiming more than was received gives nothing.
	EXPECT_EQ(blob_parse_untrusted(head, bytes.size() - 4, tb, info, 4), 0);
	EXPECT_EQ(tb[2], nullptr);
}

TEST(BlobmsgJson, LoadsEveryJsonTypeWithItsBlobmsgType)
{
	Buf buf;
	ASSERT_TRUE(blobmsg_add_json_from_string(&buf.b,
		R"({"small":-2147483648,"big":4294967296,"f":2.25,"t":true,"n":null,"s":"a\"b","a":[1,"x"]})"));
	const blobmsg_policy policy[] = {
		{"small", BLOBMSG_TYPE_INT32}, {"big", BLOBMSG_TYPE_INT64}, {"f", BLOBMSG_TYPE_DOUBLE},
		{"t", BLOBMSG_TYPE_BOOL}, {"n", BLOBMSG_TYPE_UNSPEC}, {"s", BLOBMSG_TYPE_STRING},
		{"a", BLOBMSG_TYPE_ARRAY},
	};
	blob_attr *tb[7];
	ASSERT_EQ(blobmsg_parse(policy, 7, tb, blob_data(buf.b.head), static_cast<unsigned int>(blob_len(buf.b.head))), 0);
	for (auto *attr : tb)
		ASSERT_NE(attr, nullptr);
	EXPECT_EQ(static_cast<int32_t>(blobmsg_get_u32(tb[0])), INT32_MIN);
	EXPECT_EQ(blobmsg_get_u64(tb[1]), 4294967296ULL);
	EXPECT_DOUBLE_EQ(blobmsg_get_double(tb[2]), 2.25);
	EXPECT_TRUE(blobmsg_get_bool(tb[3]));
	EXPECT_EQ(blobmsg_data_len(tb[4]), 0u);
	EXPECT_STREQ(blobmsg_get_string(tb[5]), "a\"b");
	EXPECT_EQ(blobmsg_check_array(tb[6], BLOBMSG_TYPE_UNSPEC), 2);
	char *json = blobmsg_format_json(buf.b.head, true);
	EXPECT_STREQ(json, R"({"small":-2147483648,"big":4294967296,"f":2.250000,"t":true,"n":null,"s":"a\"b","a":[1,"x"]})");
	std::free(json);
}

TEST(BlobmsgJson, RefusesWhatIsNotAnObject)
{
	Buf buf;
	EXPECT_FALSE(blobmsg_add_json_from_string(&buf.b, "[1,2]"));
	EXPECT_FALSE(blobmsg_add_json_from_string(&buf.b, "{\"a\":"));
	EXPECT_FALSE(blobmsg_add_json_from_string(&buf.b, ""));
	EXPECT_FALSE(blobmsg_add_json_from_file(&buf.b, "/nonexistent/file.json"));
}

TEST(BlobmsgJson, LoadsFileAndEscapesControlCharacters)
{
	wlctest::TempRoot root;
	std::string file = root.at("/etc/sample.json");
	wlctest::write_text(file, "{\"text\": \"line1\\nline2\\t\\u0001\\\\\"}");
	Buf buf;
	ASSERT_TRUE(blobmsg_add_json_from_file(&buf.b, file.c_str()));
	char *json = blobmsg_format_json(buf.b.head, true);
	EXPECT_STREQ(json, R"({"text":"line1\nline2\t\u0001\\"})");
	std::free(json);
}

TEST(BlobmsgJson, RefusesMembersWithoutName)
{
	// A table member needs its name; without one the table would not hold
	// together, and its rendering would not be JSON.
	Buf buf;
	EXPECT_FALSE(blobmsg_add_json_from_string(&buf.b, R"({"a":1,"":2})"));
	Buf nested;
	EXPECT_FALSE(blobmsg_add_json_from_string(&nested.b, R"({"a":[{"":1}]})"));
}

TEST(BlobmsgJson, RendersEveryDoubleAsJson)
{
	Buf buf;
	ASSERT_TRUE(blobmsg_add_json_from_string(&buf.b, R"({"big":-1.5e300,"over":-2.7e308,"nan":NaN})"));
	std::unique_ptr<char, decltype(&std::free)> json(blobmsg_format_json(buf.b.head, true), &std::free);
	ASSERT_TRUE(json);
	// Every digit of the large number, and null for what JSON cannot hold.
	std::string expected = "{\"big\":-15" + std::string(299, '0') + ".000000,\"over\":null,\"nan\":null}";
	EXPECT_EQ(std::string(json.get()).size(), expected.size());
	EXPECT_EQ(std::string(json.get()).substr(0, 10), "{\"big\":-15");
	EXPECT_NE(std::string(json.get()).find(".000000,\"over\":null,\"nan\":null}"), std::string::npos);
	Buf again;
	EXPECT_TRUE(blobmsg_add_json_from_string(&again.b, json.get()));
}

} // namespace
