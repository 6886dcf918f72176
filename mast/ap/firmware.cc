// Firmware download and installation.
#include "firmware.h"

#include <fsroot/fsroot.h>
#include <wlc/log.h>

#include <wlc/blob.h>

#include <wlc/curl.h>
#include <openssl/ssl.h>

#include <cstdio>
#include <unistd.h>

#include "../core/platform_command.h"
#include "../mqtt/readers.h"

namespace mast {

namespace {

constexpr const char *kImageFile = "/tmp/ap_fw.bin";
constexpr const char *kTrustFile = "/etc/wlc/mqtt_ca.crt";
constexpr int kRetryMs = 1000;

// The saved controller certificate is an anchor of its own, whether it is
// an authority or the controller's server certificate.
CURLcode trust_pinned(CURL *, void *ssl_ctx, void *) noexcept
{
	X509_STORE_set_flags(SSL_CTX_get_cert_store(static_cast<SSL_CTX *>(ssl_ctx)), X509_V_FLAG_PARTIAL_CHAIN);
	return CURLE_OK;
}

size_t write_image(char *data, size_t size, size_t count, void *file) noexcept
{
	return std::fwrite(data, size, count, static_cast<FILE *>(file)) * size;
}

} // namespace

// The running download: the easy handle and the image file being written.
struct Firmware::Transfer {
	const wlc::CurlApi &curl;
	CURL *easy = nullptr;
	FILE *file = nullptr;
	std::string path;
	char error[CURL_ERROR_SIZE] = {};

	explicit Transfer(const wlc::CurlApi &api) : curl(api) {}
	~Transfer()
	{
		if (easy)
			curl.easy_cleanup(easy);
		if (file)
			std::fclose(file);
	}
};

Firmware::Firmware(std::string controller_host, std::function<void()> retry)
	: host_(std::move(controller_host)), retry_(std::move(retry)),
	  curl_timer_([this] { drive(CURL_SOCKET_TIMEOUT, 0); }), retry_timer_([this] {
		  if (retry_)
			  retry_();
	  }),
	  reaper_([this] { check_done(); })
{
}

Firmware::~Firmware()
{
	if (transfer_) {
		curl_->multi_remove_handle(multi_, transfer_->easy);
		std::string path = transfer_->path;
		transfer_.reset();
		unlink(path.c_str());
	}
	watches_.clear();
	if (multi_)
		curl_->multi_cleanup(multi_);
}

// libcurl is loaded, and the multi handle made, when the first download
// starts: an AP that never updates never maps it.
bool Firmware::ready()
{
	if (multi_)
		return true;
	curl_ = wlc::curl_api();
	if (!curl_ || !(multi_ = curl_->multi_init()))
		return false;
	curl_->multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &Firmware::on_socket);
	curl_->multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
	curl_->multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &Firmware::on_timer);
	curl_->multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
	return true;
}

void Firmware::fail(const char *what)
{
	wlc::logf(LOG_ERR, "%s", what);
	retry_timer_.set(kRetryMs);
}

void Firmware::handle(const TopicLevels &topic, const void *payload, size_t len)
{
	wlc::logf(LOG_NOTICE, "Receive FIRMWARE message (version %s, model %s)", topic.size() > 3 ? topic[3].c_str() : "",
		  topic.size() > 4 ? topic[4].c_str() : "");
	if (transfer_) {
		wlc::logf(LOG_WARNING, "Firmware download already running");
		return;
	}
	std::optional<FirmwareMessage> m = read_firmware(payload, len);
	if (!m) {
		fail("Bad FIRMWARE message!");
		return;
	}
	wlc::logf(LOG_INFO, "Downloading firmware...");
	std::string url = "https://" + host_ + ":" + std::to_string(m->port) + "/" + m->path;
	wlc::logf(LOG_DEBUG, "Firmware URL: %s", url.c_str());
	if (!ready()) {
		wlc::logf(LOG_ERR, "Failed to init cURL!");
		fail("Failed to download firmware!");
		return;
	}
	auto t = std::make_unique<Transfer>(*curl_);
	t->path = wlc::root_path(kImageFile);
	t->file = std::fopen(t->path.c_str(), "wb");
	if (!t->file) {
		wlc::logf(LOG_ERR, "Failed to open tmp-file for firmware!");
		fail("Failed to download firmware!");
		return;
	}
	t->easy = curl_->easy_init();
	if (!t->easy) {
		wlc::logf(LOG_ERR, "Failed to init cURL!");
		t.reset();
		unlink(wlc::root_path(kImageFile).c_str());
		fail("Failed to download firmware!");
		return;
	}
	std::string ca = wlc::root_path(kTrustFile);
	curl_->easy_setopt(t->easy, CURLOPT_URL, url.c_str());
	curl_->easy_setopt(t->easy, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
	curl_->easy_setopt(t->easy, CURLOPT_CAINFO, ca.c_str());
	curl_->easy_setopt(t->easy, CURLOPT_CAPATH, nullptr);
	curl_->easy_setopt(t->easy, CURLOPT_SSL_VERIFYPEER, 1L);
	curl_->easy_setopt(t->easy, CURLOPT_SSL_VERIFYHOST, 0L);
	curl_->easy_setopt(t->easy, CURLOPT_SSL_CTX_FUNCTION, &trust_pinned);
	curl_->easy_setopt(t->easy, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutS);
	curl_->easy_setopt(t->easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
	curl_->easy_setopt(t->easy, CURLOPT_LOW_SPEED_TIME, kStallTimeS);
	curl_->easy_setopt(t->easy, CURLOPT_NOSIGNAL, 1L);
	curl_->easy_setopt(t->easy, CURLOPT_WRITEFUNCTION, &write_image);
	curl_->easy_setopt(t->easy, CURLOPT_WRITEDATA, t->file);
	curl_->easy_setopt(t->easy, CURLOPT_ERRORBUFFER, t->error);
	if (curl_->multi_add_handle(multi_, t->easy) != CURLM_OK) {
		t.reset();
		unlink(wlc::root_path(kImageFile).c_str());
		fail("Failed to download firmware!");
		return;
	}
	transfer_ = std::move(t);
}

int Firmware::on_socket(void *, int fd, int what, void *self, void *) noexcept
{
	auto *fw = static_cast<Firmware *>(self);
	if (what == CURL_POLL_REMOVE) {
		// Not freed here: curl may call this from inside the watch's own callback.
		if (auto it = fw->watches_.find(fd); it != fw->watches_.end())
			it->second->stop();
		return 0;
	}
	auto &watch = fw->watches_[fd];
	if (!watch || watch->fd() != fd)
		watch = std::make_unique<wlc::FdWatch>(fd, [fw, fd](unsigned int ev) {
			fw->drive(fd, ((ev & ULOOP_READ) ? CURL_CSELECT_IN : 0) | ((ev & ULOOP_WRITE) ? CURL_CSELECT_OUT : 0));
		});
	unsigned int flags = 0;
	if (what & CURL_POLL_IN)
		flags |= ULOOP_READ;
	if (what & CURL_POLL_OUT)
		flags |= ULOOP_WRITE;
	watch->start(flags);
	return 0;
}

int Firmware::on_timer(void *, long timeout_ms, void *self) noexcept
{
	auto *fw = static_cast<Firmware *>(self);
	if (timeout_ms < 0)
		fw->curl_timer_.cancel();
	else
		fw->curl_timer_.set(static_cast<int>(timeout_ms));
	return 0;
}

void Firmware::drive(int fd, int events)
{
	int running = 0;
	curl_->multi_socket_action(multi_, fd, events, &running);
	reaper_.set(0);
}

void Firmware::check_done()
{
	// Watches curl let go of are freed here, outside their callbacks.
	std::erase_if(watches_, [](const auto &w) { return !w.second->registered(); });
	int left = 0;
	while (CURLMsg *msg = curl_->multi_info_read(multi_, &left)) {
		if (msg->msg != CURLMSG_DONE || !transfer_ || msg->easy_handle != transfer_->easy)
			continue;
		long code = 0;
		curl_->easy_getinfo(transfer_->easy, CURLINFO_RESPONSE_CODE, &code);
		std::string error = msg->data.result != CURLE_OK
					    ? (transfer_->error[0] ? transfer_->error : curl_->easy_strerror(msg->data.result))
					    : (code != 200 ? "HTTP status " + std::to_string(code) : std::string());
		transfer_done(error.empty(), error);
		return;
	}
}

void Firmware::transfer_done(bool ok, const std::string &error)
{
	curl_->multi_remove_handle(multi_, transfer_->easy);
	std::string path = transfer_->path;
	FILE *file = std::exchange(transfer_->file, nullptr);
	bool closed = std::fclose(file) == 0;
	transfer_.reset();
	if (ok && !closed) {
		ok = false;
		wlc::logf(LOG_ERR, "Failed to download firmware: %s", "cannot write the image");
	} else if (!ok) {
		wlc::logf(LOG_ERR, "Failed to download firmware: %s", error.c_str());
	}
	if (!ok) {
		unlink(path.c_str());
		fail("Failed to download firmware!");
		return;
	}
	wlc::logf(LOG_INFO, "Upgrading firmware...");
	if (run_platform_command({"sysupgrade", path}) != 0) {
		unlink(path.c_str());
		fail("Failed to upgrade firmware!");
	}
}

} // namespace mast
