// libcurl loaded on first use.
#include <wlc/curl.h>

#include <dlfcn.h>

namespace wlc {

namespace {

// libcurl's ABI name, the same on every system this runs on.
constexpr const char *kLibrary = "libcurl.so.4";

CurlApi g_api = {};
void *g_library = nullptr;
bool g_ready = false;

template <typename F>
bool find(void *library, const char *name, F &out)
{
	out = reinterpret_cast<F>(dlsym(library, name));
	return out != nullptr;
}

bool find_all(void *lib)
{
	CurlApi &a = g_api;
	return find(lib, "curl_easy_init", a.easy_init) && find(lib, "curl_easy_setopt", a.easy_setopt) &&
	       find(lib, "curl_easy_getinfo", a.easy_getinfo) && find(lib, "curl_easy_cleanup", a.easy_cleanup) &&
	       find(lib, "curl_easy_strerror", a.easy_strerror) && find(lib, "curl_multi_init", a.multi_init) &&
	       find(lib, "curl_multi_setopt", a.multi_setopt) && find(lib, "curl_multi_add_handle", a.multi_add_handle) &&
	       find(lib, "curl_multi_remove_handle", a.multi_remove_handle) &&
	       find(lib, "curl_multi_socket_action", a.multi_socket_action) &&
	       find(lib, "curl_multi_perform", a.multi_perform) && find(lib, "curl_multi_poll", a.multi_poll) &&
	       find(lib, "curl_multi_info_read", a.multi_info_read) &&
	       find(lib, "curl_multi_strerror", a.multi_strerror) && find(lib, "curl_multi_cleanup", a.multi_cleanup) &&
	       find(lib, "curl_global_cleanup", a.global_cleanup);
}

} // namespace

const CurlApi *curl_api() noexcept
{
	if (g_ready)
		return &g_api;
	if (!g_library)
		g_library = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
	if (!g_library)
		return nullptr;
	decltype(&curl_global_init) global_init = nullptr;
	if (!find_all(g_library) || !find(g_library, "curl_global_init", global_init) ||
	    global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
		return nullptr;
	g_ready = true;
	return &g_api;
}

void curl_release() noexcept
{
	if (!g_ready)
		return;
	g_api.global_cleanup();
	g_ready = false;
}

} // namespace wlc
