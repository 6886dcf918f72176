// Building messages and reading typed fields.
#include <wlc/blob.h>

#include <wlc/c/blobmsg_json.h>

#include <cstdlib>
#include <memory>

namespace wlc {

BlobBuf &BlobBuf::operator=(BlobBuf &&o) noexcept
{
	if (this != &o) {
		blob_buf_free(&buf_);
		buf_ = o.buf_;
		o.buf_ = {};
	}
	return *this;
}

BlobBuf &BlobBuf::add(const char *name, std::string_view s)
{
	char *dest = static_cast<char *>(blobmsg_alloc_string_buffer(&buf_, name, static_cast<unsigned int>(s.size()) + 1));
	if (dest) {
		s.copy(dest, s.size());
		dest[s.size()] = '\0';
		blobmsg_add_string_buffer(&buf_);
	}
	return *this;
}

BlobBuf &BlobBuf::add_fields(const blob_attr *table)
{
	if (!table || !name_fits(table))
		return *this;
	// The table may come straight from untrusted bytes (a payload whose
	// outer length alone was checked): a field without a name header, or
	// whose name or length does not hold together, would be copied past its
	// end, so it is left out.
	blob_attr *pos;
	size_t rem;
	blobmsg_for_each_attr(pos, table, rem)
		if (blob_is_extended(pos) && blobmsg_check_attr(pos, false))
			add_field(pos);
	return *this;
}

bool BlobBuf::add_json(const std::string &json)
{
	return blobmsg_add_json_from_string(&buf_, json.c_str());
}

std::string BlobBuf::json(bool indent) const
{
	std::unique_ptr<char, decltype(&std::free)> text(
		indent ? blobmsg_format_json_indent(buf_.head, true, 0) : blobmsg_format_json(buf_.head, true), &std::free);
	return text ? std::string(text.get()) : std::string();
}

bool name_fits(const blob_attr *attr)
{
	if (!blob_is_extended(attr))
		return true;
	size_t len = blob_len(attr);
	if (len < sizeof(blobmsg_hdr))
		return false;
	const auto *hdr = static_cast<const blobmsg_hdr *>(blob_data(attr));
	return static_cast<size_t>(blobmsg_hdrlen(blobmsg_namelen(hdr))) <= len;
}

std::optional<std::string_view> get_string(const blob_attr *attr)
{
	if (!attr || blobmsg_type(attr) != BLOBMSG_TYPE_STRING)
		return std::nullopt;
	return std::string_view(static_cast<const char *>(blobmsg_data(attr)));
}

std::optional<uint32_t> get_u32(const blob_attr *attr)
{
	if (!attr || blobmsg_type(attr) != BLOBMSG_TYPE_INT32)
		return std::nullopt;
	return blobmsg_get_u32(const_cast<blob_attr *>(attr));
}

std::optional<uint64_t> get_u64(const blob_attr *attr)
{
	if (!attr || blobmsg_type(attr) != BLOBMSG_TYPE_INT64)
		return std::nullopt;
	return blobmsg_get_u64(const_cast<blob_attr *>(attr));
}

std::optional<bool> get_bool(const blob_attr *attr)
{
	if (!attr || blobmsg_type(attr) != BLOBMSG_TYPE_BOOL)
		return std::nullopt;
	return blobmsg_get_bool(const_cast<blob_attr *>(attr));
}

std::optional<double> get_double(const blob_attr *attr)
{
	if (!attr || blobmsg_type(attr) != BLOBMSG_TYPE_DOUBLE)
		return std::nullopt;
	return blobmsg_get_double(const_cast<blob_attr *>(attr));
}

} // namespace wlc
