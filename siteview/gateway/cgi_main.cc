// siteview_gateway: the web server's "/ubus" endpoint as a CGI program. The
// server passes the request body on standard input; the answer goes to
// standard output. The bus socket is SITEVIEW_UBUS_SOCKET when the server's
// configuration sets it, the device's default otherwise.
#include <wlc/bus.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include "rpc.h"

namespace {

constexpr int kCallTimeoutMs = 30000;

void answer(const std::string &body)
{
	std::cout << "Content-Type: application/json\r\n"
		  << "Cache-Control: no-store\r\n\r\n"
		  << body << std::flush;
}

// The body of a POST, or nullopt-like false when it is missing or too large.
bool read_body(std::string &body)
{
	const char *method = std::getenv("REQUEST_METHOD");
	const char *length = std::getenv("CONTENT_LENGTH");
	if (!method || std::string_view(method) != "POST" || !length)
		return false;
	char *end = nullptr;
	unsigned long n = std::strtoul(length, &end, 10);
	if (end == length || *end != '\0' || n > siteview::kMaxRequestBytes)
		return false;
	body.resize(n);
	std::cin.read(body.data(), static_cast<std::streamsize>(n));
	return static_cast<unsigned long>(std::cin.gcount()) == n;
}

int serve()
{
	std::string body;
	if (!read_body(body)) {
		answer(siteview::error_response(siteview::RpcError::parse, "null"));
		return 0;
	}
	const char *socket = std::getenv("SITEVIEW_UBUS_SOCKET");
	uloop_init();
	int ret = 0;
	{
		wlc::Bus bus;
		if (!bus.connect(socket ? socket : "")) {
			answer(siteview::error_response(siteview::RpcError::internal, "null"));
			ret = 0;
		} else {
			siteview::Gateway gateway(bus, kCallTimeoutMs);
			answer(gateway.handle(body));
		}
	}
	uloop_done();
	return ret;
}

} // namespace

int main()
{
	try {
		return serve();
	} catch (const std::exception &) {
		answer(siteview::error_response(siteview::RpcError::internal, "null"));
		return 0;
	}
}
