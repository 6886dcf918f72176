// libcurl, loaded when the first transfer starts rather than at program
// start: a daemon that idles without a download or upload never maps the
// library, its TLS and protocol libraries, nor sets up their global state.
// The types and constants are those of <curl/curl.h>; the functions are
// called through the table that curl_api() hands back.
#pragma once

#include <curl/curl.h>

namespace wlc {

struct CurlApi {
	decltype(&curl_easy_init) easy_init;
	decltype(&curl_easy_setopt) easy_setopt;
	decltype(&curl_easy_getinfo) easy_getinfo;
	decltype(&curl_easy_cleanup) easy_cleanup;
	decltype(&curl_easy_strerror) easy_strerror;
	decltype(&curl_multi_init) multi_init;
	decltype(&curl_multi_setopt) multi_setopt;
	decltype(&curl_multi_add_handle) multi_add_handle;
	decltype(&curl_multi_remove_handle) multi_remove_handle;
	decltype(&curl_multi_socket_action) multi_socket_action;
	decltype(&curl_multi_perform) multi_perform;
	decltype(&curl_multi_poll) multi_poll;
	decltype(&curl_multi_info_read) multi_info_read;
	decltype(&curl_multi_strerror) multi_strerror;
	decltype(&curl_multi_cleanup) multi_cleanup;
	decltype(&curl_global_cleanup) global_cleanup;
};

// The library loaded and its global set-up done (once, on the first call
// that succeeds); null when it cannot be loaded or set up, and then the next
// call tries again. Not for use from several threads at once.
[[nodiscard]] const CurlApi *curl_api() noexcept;

// Undoes the global set-up at the end of the program, when it was done.
void curl_release() noexcept;

} // namespace wlc
