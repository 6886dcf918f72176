// "send_file": uploads of one file or a concatenation to a URL, in the
// background on the event loop.
#pragma once

#include <wlc/bus.h>
#include <wlc/loop.h>

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace vigil {

struct UploadFile {
	std::string path;
	int64_t size = 0;
};

struct UploadRequest {
	std::string url;
	std::vector<UploadFile> files;
	int64_t total = 0;
	bool remove = false;
};

struct UploadRefusal {
	std::string message;
	int status = UBUS_STATUS_INVALID_ARGUMENT;
};

// Checks the arguments of a call: the request, or why it is refused.
[[nodiscard]] std::variant<UploadRequest, UploadRefusal> check_upload(blob_attr *msg);

class Upload;

// The running uploads; an upload that has answered is freed from the loop.
class UploadList {
public:
	UploadList();
	~UploadList();
	UploadList(const UploadList &) = delete;
	UploadList &operator=(const UploadList &) = delete;

	int start(wlc::Request &req, blob_attr *msg);
	size_t running() const { return uploads_.size(); }

private:
	void reap();

	std::list<std::unique_ptr<Upload>> uploads_;
	wlc::Timer reaper_;
};

} // namespace vigil
