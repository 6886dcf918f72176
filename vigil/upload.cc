// Running uploads with the libcurl multi interface, driven by the event
// loop: the transfer's sockets and libcurl's timeout.
#include "upload.h"

#include <fsroot/fsroot.h>
#include <wlc/log.h>

#include <wlc/curl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vigil {

namespace {

// What one read of the file and one write to the connection move: large
// blocks keep the wake-ups and reads per upload few, and one block is quick
// enough that the loop stays free for other calls.
constexpr long kUploadBlock = 1L << 20;

// Handles exist only once libcurl was loaded (wlc::curl_api() succeeded).
struct MultiFree {
	void operator()(CURLM *m) const noexcept { wlc::curl_api()->multi_cleanup(m); }
};
struct EasyFree {
	void operator()(CURL *e) const noexcept { wlc::curl_api()->easy_cleanup(e); }
};

bool is_http(const std::string &url)
{
	return strncasecmp(url.c_str(), "http://", 7) == 0 || strncasecmp(url.c_str(), "https://", 8) == 0;
}

} // namespace

class Upload {
public:
	Upload(UploadRequest r, std::function<void()> ended)
		: req_(std::move(r)), ended_(std::move(ended)), timer_([this] { on_timeout(); })
	{
	}
	~Upload()
	{
		timer_.cancel();
		if (multi_)
			curl_->multi_setopt(multi_.get(), CURLMOPT_TIMERFUNCTION, nullptr);
		if (multi_ && easy_)
			curl_->multi_remove_handle(multi_.get(), easy_.get());
		// Cached connections are closed by the cleanup, after the watches are gone.
		if (multi_)
			curl_->multi_setopt(multi_.get(), CURLMOPT_SOCKETFUNCTION, nullptr);
		watches_.clear();
		retired_.clear();
	}
	Upload(const Upload &) = delete;
	Upload &operator=(const Upload &) = delete;

	// Sets the transfer up; an error message when it cannot start.
	std::optional<std::string> begin();
	void run(wlc::DeferredReply reply)
	{
		reply_ = std::move(reply);
		timer_.set(0);
	}
	bool ended() const { return ended_flag_; }

private:
	static size_t read_cb(char *buf, size_t size, size_t count, void *user) noexcept;
	static int socket_cb(CURL *easy, curl_socket_t s, int what, void *user, void *socketp) noexcept;
	static int timer_cb(CURLM *multi, long timeout_ms, void *user) noexcept;
	size_t read_into(char *buf, size_t room);
	bool open_next();
	void watch(curl_socket_t s, int what);
	void on_timeout();
	void act(curl_socket_t s, int events);
	void check_done();
	void finish(std::optional<std::string> error);

	UploadRequest req_;
	std::function<void()> ended_;
	wlc::Timer timer_;
	const wlc::CurlApi *curl_ = nullptr;
	std::unique_ptr<CURLM, MultiFree> multi_;
	std::unique_ptr<CURL, EasyFree> easy_;
	char errbuf_[CURL_ERROR_SIZE] = {};
	size_t next_ = 0;
	wlc::UniqueFd file_;
	int64_t left_ = 0; // bytes still to send of the open file
	wlc::DeferredReply reply_;
	bool ended_flag_ = false;
	// The transfer's sockets, watched for what libcurl waits for; a watch
	// libcurl is done with is kept stopped until no callback of it can be
	// running, then freed.
	std::map<curl_socket_t, std::unique_ptr<wlc::FdWatch>> watches_;
	std::vector<std::unique_ptr<wlc::FdWatch>> retired_;
};

std::optional<std::string> Upload::begin()
{
	curl_ = wlc::curl_api();
	if (!curl_)
		return "failed to init curl";
	multi_.reset(curl_->multi_init());
	easy_.reset(curl_->easy_init());
	if (!multi_ || !easy_)
		return "failed to init curl";
	CURL *e = easy_.get();
	curl_->easy_setopt(e, CURLOPT_URL, req_.url.c_str());
	curl_->easy_setopt(e, CURLOPT_UPLOAD, 1L);
	curl_->easy_setopt(e, CURLOPT_READFUNCTION, read_cb);
	curl_->easy_setopt(e, CURLOPT_READDATA, this);
	curl_->easy_setopt(e, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(req_.total));
	curl_->easy_setopt(e, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBlock);
	curl_->easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
	curl_->easy_setopt(e, CURLOPT_CONNECTTIMEOUT, 30L);
	curl_->easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
	curl_->easy_setopt(e, CURLOPT_LOW_SPEED_TIME, 60L);
	curl_->easy_setopt(e, CURLOPT_ERRORBUFFER, errbuf_);
	curl_->easy_setopt(e, CURLOPT_FAILONERROR, 1L);
#if LIBCURL_VERSION_NUM >= 0x075500
	curl_->easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https,ftp,ftps");
	curl_->easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https,ftp,ftps");
#else
	long protocols = CURLPROTO_HTTP | CURLPROTO_HTTPS | CURLPROTO_FTP | CURLPROTO_FTPS;
	curl_->easy_setopt(e, CURLOPT_PROTOCOLS, protocols);
	curl_->easy_setopt(e, CURLOPT_REDIR_PROTOCOLS, protocols);
#endif
	curl_->multi_setopt(multi_.get(), CURLMOPT_SOCKETFUNCTION, socket_cb);
	curl_->multi_setopt(multi_.get(), CURLMOPT_SOCKETDATA, this);
	curl_->multi_setopt(multi_.get(), CURLMOPT_TIMERFUNCTION, timer_cb);
	curl_->multi_setopt(multi_.get(), CURLMOPT_TIMERDATA, this);
	if (curl_->multi_add_handle(multi_.get(), e) != CURLM_OK) {
		easy_.reset();
		return "failed to start upload";
	}
	return std::nullopt;
}

int Upload::socket_cb(CURL *, curl_socket_t s, int what, void *user, void *) noexcept
{
	try {
		static_cast<Upload *>(user)->watch(s, what);
	} catch (...) {
		// Without the watch the transfer goes on at libcurl's next timeout.
	}
	return 0;
}

int Upload::timer_cb(CURLM *, long timeout_ms, void *user) noexcept
{
	auto *u = static_cast<Upload *>(user);
	if (timeout_ms < 0)
		u->timer_.cancel();
	else
		u->timer_.set(static_cast<int>(std::min(timeout_ms, static_cast<long>(INT_MAX))));
	return 0;
}

void Upload::watch(curl_socket_t s, int what)
{
	auto it = watches_.find(s);
	if (what == CURL_POLL_REMOVE) {
		if (it != watches_.end()) {
			it->second->stop();
			retired_.push_back(std::move(it->second));
			watches_.erase(it);
		}
		return;
	}
	if (it == watches_.end()) {
		auto w = std::make_unique<wlc::FdWatch>(s, [this, s](unsigned int events) {
			int mask = (events & ULOOP_READ ? CURL_CSELECT_IN : 0) | (events & ULOOP_WRITE ? CURL_CSELECT_OUT : 0);
			act(s, mask);
		});
		it = watches_.emplace(s, std::move(w)).first;
	}
	unsigned int flags = (what & CURL_POLL_IN ? ULOOP_READ : 0) | (what & CURL_POLL_OUT ? ULOOP_WRITE : 0);
	it->second->start(flags);
}

void Upload::on_timeout()
{
	act(CURL_SOCKET_TIMEOUT, 0);
}

// Lets libcurl move what the socket (or its timeout) allows, then looks for
// the end of the transfer.
void Upload::act(curl_socket_t s, int events)
{
	if (ended_flag_)
		return;
	retired_.clear();
	int running = 0;
	CURLMcode mc = curl_->multi_socket_action(multi_.get(), s, events, &running);
	if (mc != CURLM_OK)
		return finish(curl_->multi_strerror(mc));
	if (!running)
		check_done();
}

// The next file of the list, opened without blocking and only if it is
// still a regular file (a path swapped for a FIFO must not stall the loop).
bool Upload::open_next()
{
	const UploadFile &f = req_.files[next_++];
	wlc::UniqueFd fd(open(wlc::root_path(f.path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
	struct stat st;
	if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
		return false;
	file_ = std::move(fd);
	left_ = f.size;
	return true;
}

// Exactly the sizes announced: a file that grew is cut at its old size,
// one that shrank aborts the transfer rather than shift what follows.
size_t Upload::read_into(char *buf, size_t room)
{
	size_t placed = 0;
	while (placed < room) {
		if (!file_) {
			if (next_ >= req_.files.size())
				break;
			if (!open_next())
				return CURL_READFUNC_ABORT;
			continue;
		}
		size_t want = std::min(room - placed, static_cast<size_t>(left_));
		if (want == 0) {
			file_.reset();
			continue;
		}
		ssize_t n = read(file_.get(), buf + placed, want);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return CURL_READFUNC_ABORT;
		placed += static_cast<size_t>(n);
		left_ -= n;
	}
	return placed;
}

size_t Upload::read_cb(char *buf, size_t size, size_t count, void *user) noexcept
{
	if (size != 0 && count > SIZE_MAX / size)
		return CURL_READFUNC_ABORT;
	return static_cast<Upload *>(user)->read_into(buf, size * count);
}

void Upload::check_done()
{
	int left = 0;
	while (CURLMsg *m = curl_->multi_info_read(multi_.get(), &left)) {
		if (m->msg != CURLMSG_DONE || m->easy_handle != easy_.get())
			continue;
		long code = 0;
		curl_->easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &code);
		char text[256];
		// An HTTP server that did not take the upload (errors, and redirects,
		// which a PUT does not follow) is reported by its status.
		if (is_http(req_.url) && code != 0 && (code < 200 || code >= 300)) {
			std::snprintf(text, sizeof(text), "http error: %ld", code);
			return finish(std::string(text));
		}
		if (m->data.result != CURLE_OK)
			return finish(std::string(errbuf_[0] ? errbuf_ : curl_->easy_strerror(m->data.result)));
		return finish(std::nullopt);
	}
	finish(std::string("upload finished without status"));
}

void Upload::finish(std::optional<std::string> error)
{
	timer_.cancel();
	// This may run in a watch's own callback: the watches are stopped here
	// and freed with the upload.
	for (auto &[s, w] : watches_) {
		w->stop();
		retired_.push_back(std::move(w));
	}
	watches_.clear();
	file_.reset();
	wlc::BlobBuf reply;
	if (error) {
		reply.add("error", error->substr(0, 255));
	} else {
		for (const UploadFile &f : req_.files)
			if (req_.remove && unlink(wlc::root_path(f.path).c_str()) != 0)
				wlc::logf(LOG_WARNING, "send_file: failed to remove %s: %m", f.path.c_str());
		reply.add_u64("size", static_cast<uint64_t>(req_.total));
	}
	reply_.reply(reply);
	reply_.complete(UBUS_STATUS_OK);
	ended_flag_ = true;
	if (ended_)
		ended_();
}

UploadList::UploadList() : reaper_([this] { reap(); }) {}

UploadList::~UploadList() = default;

void UploadList::reap()
{
	uploads_.remove_if([](const auto &u) { return u->ended(); });
}

int UploadList::start(wlc::Request &req, blob_attr *msg)
{
	auto checked = check_upload(msg);
	wlc::BlobBuf reply;
	if (auto *refusal = std::get_if<UploadRefusal>(&checked)) {
		reply.add("error", refusal->message);
		req.reply(reply);
		return refusal->status;
	}
	auto up = std::make_unique<Upload>(std::move(std::get<UploadRequest>(checked)), [this] { reaper_.set(0); });
	if (std::optional<std::string> error = up->begin()) {
		reply.add("error", *error);
		req.reply(reply);
		return UBUS_STATUS_OK;
	}
	up->run(req.defer());
	uploads_.push_back(std::move(up));
	return UBUS_STATUS_OK;
}

} // namespace vigil
