// Feeds JSON text to blobmsg_json's loader and renderer.
#include "blobmsg_json_inputs.h"

#include <wlc/c/blobmsg_json.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace wlcfuzz {

namespace {

struct Buf {
	blob_buf b = {};
	Buf() { blob_buf_init(&b, 0); }
	~Buf() { blob_buf_free(&b); }
	Buf(const Buf &) = delete;
	Buf &operator=(const Buf &) = delete;
};

struct FreeText {
	void operator()(char *p) const { std::free(p); }
};
using Text = std::unique_ptr<char, FreeText>;

} // namespace

void blobmsg_json_one_input(const uint8_t *data, size_t size)
{
	std::string text(reinterpret_cast<const char *>(data), size);
	Buf first;
	if (!blobmsg_add_json_from_string(&first.b, text.c_str()))
		return;
	Text rendered(blobmsg_format_json(first.b.head, true));
	Text indented(blobmsg_format_json_indent(first.b.head, true, 0));
	if (!rendered || !indented)
		std::abort();
	// What was rendered loads again, to the same rendering.
	Buf second;
	if (!blobmsg_add_json_from_string(&second.b, rendered.get()))
		std::abort();
	Text again(blobmsg_format_json(second.b.head, true));
	if (!again || std::string(again.get()) != rendered.get())
		std::abort();
}

} // namespace wlcfuzz
