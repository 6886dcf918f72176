// RAII blob buffers for building messages, and typed readers for parsing
// them against a policy.
#pragma once

#include <wlc/c/ubox.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wlc {

class BlobBuf {
public:
	BlobBuf() { blob_buf_init(&buf_, 0); }
	~BlobBuf() { blob_buf_free(&buf_); }
	BlobBuf(BlobBuf &&o) noexcept : buf_(o.buf_) { o.buf_ = {}; }
	BlobBuf &operator=(BlobBuf &&o) noexcept;
	BlobBuf(const BlobBuf &) = delete;
	BlobBuf &operator=(const BlobBuf &) = delete;

	// Empties the buffer for a new message.
	BlobBuf &reset()
	{
		blob_buf_init(&buf_, 0);
		return *this;
	}

	BlobBuf &add(const char *name, std::string_view s);
	BlobBuf &add(const char *name, const char *s) { return add(name, std::string_view(s)); }
	BlobBuf &add(const char *name, const std::string &s) { return add(name, std::string_view(s)); }
	BlobBuf &add_bool(const char *name, bool v) { blobmsg_add_u8(&buf_, name, v ? 1 : 0); return *this; }
	BlobBuf &add_u8(const char *name, uint8_t v) { blobmsg_add_u8(&buf_, name, v); return *this; }
	BlobBuf &add_u16(const char *name, uint16_t v) { blobmsg_add_u16(&buf_, name, v); return *this; }
	BlobBuf &add_u32(const char *name, uint32_t v) { blobmsg_add_u32(&buf_, name, v); return *this; }
	BlobBuf &add_u64(const char *name, uint64_t v) { blobmsg_add_u64(&buf_, name, v); return *this; }
	BlobBuf &add_double(const char *name, double v) { blobmsg_add_double(&buf_, name, v); return *this; }
	BlobBuf &add_field(blob_attr *field) { blobmsg_add_blob(&buf_, field); return *this; }
	// Copies every well-formed field of a table (or of a message's attribute
	// list); malformed ones are left out, null adds nothing.
	BlobBuf &add_fields(const blob_attr *table);

	// A table or array open until the returned scope ends (or close() is called).
	class Nest {
	public:
		Nest(blob_buf *buf, void *cookie) : buf_(buf), cookie_(cookie) {}
		~Nest() { close(); }
		Nest(Nest &&o) noexcept : buf_(o.buf_), cookie_(o.cookie_) { o.cookie_ = nullptr; }
		Nest(const Nest &) = delete;
		Nest &operator=(const Nest &) = delete;
		Nest &operator=(Nest &&) = delete;
		void close()
		{
			if (cookie_)
				blob_nest_end(buf_, cookie_);
			cookie_ = nullptr;
		}

	private:
		blob_buf *buf_;
		void *cookie_;
	};
	[[nodiscard]] Nest table(const char *name = nullptr) { return {&buf_, blobmsg_open_table(&buf_, name)}; }
	[[nodiscard]] Nest array(const char *name = nullptr) { return {&buf_, blobmsg_open_array(&buf_, name)}; }

	// Loads the members of a JSON object; false when the text is not one.
	bool add_json(const std::string &json);

	blob_attr *head() const { return buf_.head; }
	blob_buf *raw() { return &buf_; }
	// The fields as JSON (compact, or indented from level 0).
	std::string json(bool indent = false) const;

private:
	blob_buf buf_ = {};
};

// Whether the name header of a named (extended) attribute lies within it, so
// that its data can be found; a plain bus message attribute has none. A peer
// can set the extended bit on any attribute it sends.
[[nodiscard]] bool name_fits(const blob_attr *attr);

// Typed access to one field; absent or mistyped fields give nullopt.
std::optional<std::string_view> get_string(const blob_attr *attr);
std::optional<uint32_t> get_u32(const blob_attr *attr);
std::optional<uint64_t> get_u64(const blob_attr *attr);
std::optional<bool> get_bool(const blob_attr *attr);
std::optional<double> get_double(const blob_attr *attr);

// The fields of a message picked out by a policy of N entries.
template <size_t N>
class Fields {
public:
	// Parses the data of msg (a table or a bus message attribute); false when
	// a field that matches the policy is malformed.
	bool parse(const std::array<blobmsg_policy, N> &policy, blob_attr *msg)
	{
		tb_.fill(nullptr);
		if (!msg)
			return true;
		if (!name_fits(msg))
			return false;
		int r = blobmsg_parse(policy.data(), N, tb_.data(), blobmsg_data(msg),
				      static_cast<unsigned int>(blobmsg_data_len(msg)));
		return r == 0 || r == -EINVAL;
	}
	blob_attr *operator[](size_t i) const { return tb_[i]; }
	bool has(size_t i) const { return tb_[i] != nullptr; }
	std::optional<std::string_view> str(size_t i) const { return get_string(tb_[i]); }
	std::optional<uint32_t> u32(size_t i) const { return get_u32(tb_[i]); }
	std::optional<uint64_t> u64(size_t i) const { return get_u64(tb_[i]); }
	std::optional<bool> boolean(size_t i) const { return get_bool(tb_[i]); }

private:
	std::array<blob_attr *, N> tb_ = {};
};

} // namespace wlc
