// Checking the arguments of an upload.
#include "upload.h"

#include <fsroot/fsroot.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sys/stat.h>

namespace vigil {

namespace {

enum { UP_URL, UP_FILE, UP_CONCAT, UP_REMOVE, UP_N };
constexpr std::array<blobmsg_policy, UP_N> kUploadPolicy = {{
	{"url", BLOBMSG_TYPE_STRING}, {"file", BLOBMSG_TYPE_STRING}, {"concat", BLOBMSG_TYPE_ARRAY},
	{"remove", BLOBMSG_TYPE_BOOL},
}};

// Messages are formatted into 256 bytes as the controller has always seen them.
std::string message(const char *fmt, const std::string &arg)
{
	char buf[256];
	std::snprintf(buf, sizeof(buf), fmt, arg.c_str());
	return buf;
}

// Transfers only to servers: never to local files or over SSH, whose URLs
// would let a caller write anywhere as this service.
bool allowed_scheme(const std::string &url)
{
	size_t colon = url.find("://");
	if (colon == std::string::npos)
		return false;
	std::string scheme = url.substr(0, colon);
	std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return std::tolower(c); });
	return scheme == "http" || scheme == "https" || scheme == "ftp" || scheme == "ftps";
}

// One path: appended when it is a regular file; a refusal otherwise.
// missing_ok: a path that does not exist is passed over.
std::optional<UploadRefusal> add_file(UploadRequest &r, std::string_view path, bool missing_ok)
{
	if (path.empty())
		return UploadRefusal{"empty path"};
	std::string p(path);
	struct stat st;
	if (stat(wlc::root_path(p).c_str(), &st) != 0) {
		if (missing_ok)
			return std::nullopt;
		return UploadRefusal{message("file not found: %s", p), UBUS_STATUS_NOT_FOUND};
	}
	if (!S_ISREG(st.st_mode))
		return UploadRefusal{message("not a regular file: %s", p)};
	r.files.push_back({p, static_cast<int64_t>(st.st_size)});
	r.total += st.st_size;
	return std::nullopt;
}

std::optional<UploadRefusal> add_concat(UploadRequest &r, blob_attr *list)
{
	if (blobmsg_check_array(list, BLOBMSG_TYPE_STRING) < 0)
		return UploadRefusal{"invalid concat"};
	if (blobmsg_check_array(list, BLOBMSG_TYPE_STRING) == 0)
		return UploadRefusal{"concat is empty"};
	blob_attr *cur;
	size_t rem;
	blobmsg_for_each_attr(cur, list, rem) {
		if (auto refusal = add_file(r, blobmsg_get_string(cur), true))
			return refusal;
	}
	return std::nullopt;
}

} // namespace

std::variant<UploadRequest, UploadRefusal> check_upload(blob_attr *msg)
{
	wlc::Fields<UP_N> f;
	f.parse(kUploadPolicy, msg);
	auto url = f.str(UP_URL);
	if (!url)
		return UploadRefusal{"url is required"};
	if (url->empty())
		return UploadRefusal{"url is empty"};
	UploadRequest r;
	r.url = std::string(*url);
	if (!allowed_scheme(r.url))
		return UploadRefusal{message("unsupported protocol: %s", r.url.substr(0, r.url.find(':')))};
	if (f.has(UP_FILE) && f.has(UP_CONCAT))
		return UploadRefusal{"file and concat are mutually exclusive"};
	if (!f.has(UP_FILE) && !f.has(UP_CONCAT))
		return UploadRefusal{"file or concat is required"};
	std::optional<UploadRefusal> refusal =
		f.has(UP_FILE) ? add_file(r, *f.str(UP_FILE), false) : add_concat(r, f[UP_CONCAT]);
	if (refusal)
		return *refusal;
	r.remove = f.boolean(UP_REMOVE).value_or(false);
	return r;
}

} // namespace vigil
