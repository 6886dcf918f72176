// Our encoder and renderer against buffers and JSON made by the platform's
// own libraries.
#include <wlc/c/ubox.h>
#include <wlc/c/blobmsg_json.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using Bytes = std::vector<uint8_t>;

class Buf {
public:
	Buf() { blob_buf_init(&b, 0); }
	~Buf() { blob_buf_free(&b); }
	Bytes bytes() const
	{
		auto *p = reinterpret_cast<const uint8_t *>(b.head);
		return Bytes(p, p + blob_pad_len(b.head));
	}
	blob_buf b = {};
};

std::string render(blob_attr *attr, int indent)
{
	char *s = indent < 0 ? blobmsg_format_json(attr, true) : blobmsg_format_json_indent(attr, true, indent);
	std::string out = s ? s : "<null>";
	std::free(s);
	return out;
}

std::string expected_json(const std::string &name, bool indent)
{
	std::string text = wlctest::read_text(wlctest::data_path("blobmsg/" + name + (indent ? ".indent.json" : ".json")));
	while (!text.empty() && text.back() == '\n')
		text.pop_back();
	return text;
}

Bytes golden(const std::string &name)
{
	return wlctest::read_bytes(wlctest::data_path("blobmsg/" + name + ".bin"));
}

void expect_case(const std::string &name, Buf &buf)
{
	EXPECT_EQ(buf.bytes(), golden(name)) << name;
	EXPECT_EQ(render(buf.b.head, -1), expected_json(name, false)) << name;
	EXPECT_EQ(render(buf.b.head, 0), expected_json(name, true)) << name;
}

TEST(BlobmsgGolden, EmptyRoot)
{
	Buf buf;
	expect_case("01-empty", buf);
}

TEST(BlobmsgGolden, EveryScalarType)
{
	Buf buf;
	blobmsg_add_string(&buf.b, "s", "hello");
	blobmsg_add_string(&buf.b, "empty", "");
	blobmsg_add_u8(&buf.b, "bool_true", 1);
	blobmsg_add_u8(&buf.b, "bool_false", 0);
	blobmsg_add_u16(&buf.b, "u16", 0xBEEF);
	blobmsg_add_u32(&buf.b, "u32", 0xDEADBEEF);
	blobmsg_add_u32(&buf.b, "neg32", static_cast<uint32_t>(-5));
	blobmsg_add_u64(&buf.b, "u64", 0x0102030405060708ULL);
	blobmsg_add_double(&buf.b, "dbl", -1.5);
	const uint8_t raw[] = {1, 2, 3};
	blobmsg_add_field(&buf.b, BLOBMSG_TYPE_UNSPEC, "raw", raw, sizeof(raw));
	expect_case("02-scalars", buf);
}

TEST(BlobmsgGolden, NestedTablesAndArrays)
{
	Buf buf;
	void *outer = blobmsg_open_table(&buf.b, "outer");
	void *list = blobmsg_open_array(&buf.b, "list");
	blobmsg_add_u32(&buf.b, nullptr, 1);
	blobmsg_add_string(&buf.b, nullptr, "two");
	void *deep = blobmsg_open_table(&buf.b, nullptr);
	blobmsg_add_u8(&buf.b, "deep", 1);
	blobmsg_close_table(&buf.b, deep);
	blobmsg_close_array(&buf.b, list);
	blobmsg_close_table(&buf.b, outer);
	blobmsg_close_array(&buf.b, blobmsg_open_array(&buf.b, "empty_array"));
	blobmsg_close_table(&buf.b, blobmsg_open_table(&buf.b, "empty_table"));
	expect_case("03-nesting", buf);
}

TEST(BlobmsgGolden, PaddingOfNamesAndData)
{
	Buf buf;
	const char *names[] = {"a", "ab", "abc", "abcd", "abcde"};
	for (uint32_t i = 0; i < 5; i++)
		blobmsg_add_u32(&buf.b, names[i], i + 1);
	blobmsg_add_string(&buf.b, "x", "1234567");
	blobmsg_printf(&buf.b, "y", "%s%d", "1234", 5678);
	expect_case("04-padding", buf);
}

TEST(BlobmsgGolden, PresenceMessage)
{
	Buf buf;
	blobmsg_add_u8(&buf.b, "online", 1);
	blobmsg_add_string(&buf.b, "model", "zev-ap1");
	blobmsg_add_string(&buf.b, "serial", "SN0001");
	blobmsg_add_string(&buf.b, "fw_version", "1.2.3");
	blobmsg_add_string(&buf.b, "fw_revision", "r12345-abcdef");
	blobmsg_add_string(&buf.b, "protocol", "1.0.0");
	blobmsg_add_string(&buf.b, "mac", "00:11:22:a3:b4:c5");
	blobmsg_add_string(&buf.b, "hostname", "ap1");
	blobmsg_add_string(&buf.b, "ip", "192.168.1.10/24");
	expect_case("05-online", buf);
}

TEST(BlobmsgGolden, RequestFromJson)
{
	// The same bytes come out of the JSON loader.
	Buf buf;
	ASSERT_TRUE(blobmsg_add_json_from_string(&buf.b,
		R"({"msg_id":7,"data":{"object":"vigil","method":"health","timeout":1000,"message":{}}})"));
	expect_case("06-request", buf);
}

TEST(BlobmsgGolden, NamedTableMember)
{
	Buf buf;
	void *t = blobmsg_open_table(&buf.b, "message");
	blobmsg_add_string(&buf.b, "from", "ap1-a3-b4-c5");
	blobmsg_add_string(&buf.b, "sta", "aa:bb:cc:dd:ee:ff");
	blobmsg_close_table(&buf.b, t);
	auto *member = static_cast<blob_attr *>(blob_data(buf.b.head));
	auto *p = reinterpret_cast<const uint8_t *>(member);
	EXPECT_EQ(Bytes(p, p + blob_pad_len(member)), golden("07-named-table"));
	EXPECT_EQ(render(member, -1), expected_json("07-named-table", false));
	EXPECT_EQ(render(member, 0), expected_json("07-named-table", true));
}

TEST(BlobmsgGolden, ReportWithInt16AndInt64)
{
	Buf buf;
	void *scan = blobmsg_open_array(&buf.b, "scan");
	void *entry = blobmsg_open_table(&buf.b, nullptr);
	blobmsg_add_u16(&buf.b, "ch", 36);
	blobmsg_add_u16(&buf.b, "int", 250);
	blobmsg_add_u16(&buf.b, "rssi", static_cast<uint16_t>(-67));
	blobmsg_close_table(&buf.b, entry);
	blobmsg_close_array(&buf.b, scan);
	blobmsg_add_u64(&buf.b, "ts", 1765000000);
	expect_case("08-report", buf);
}

TEST(BlobmsgGolden, GoldenBuffersParseBack)
{
	Bytes bin = golden("05-online");
	std::vector<uint32_t> aligned((bin.size() + 3) / 4);
	std::memcpy(aligned.data(), bin.data(), bin.size());
	auto *head = reinterpret_cast<blob_attr *>(aligned.data());
	enum { ONLINE, MODEL, IP, MISSING, N };
	const blobmsg_policy policy[N] = {
		{"online", BLOBMSG_TYPE_BOOL},
		{"model", BLOBMSG_TYPE_STRING},
		{"ip", BLOBMSG_TYPE_STRING},
		{"missing", BLOBMSG_TYPE_STRING},
	};
	blob_attr *tb[N];
	ASSERT_EQ(blobmsg_parse(policy, N, tb, blob_data(head), static_cast<unsigned int>(blob_len(head))), 0);
	ASSERT_TRUE(tb[ONLINE] && tb[MODEL] && tb[IP]);
	EXPECT_TRUE(blobmsg_get_bool(tb[ONLINE]));
	EXPECT_STREQ(blobmsg_get_string(tb[MODEL]), "zev-ap1");
	EXPECT_STREQ(blobmsg_get_string(tb[IP]), "192.168.1.10/24");
	EXPECT_EQ(tb[MISSING], nullptr);
}

} // namespace
