// Shared pieces of the benchmark programs.
#include "support.h"

#include <wlc/c/ubus.h>

#include <cstring>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bench {

pid_t spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env)
{
	pid_t pid = fork();
	if (pid == 0) {
		for (const auto &e : env)
			putenv(strdup(e.c_str()));
		std::vector<char *> args;
		for (const auto &a : argv)
			args.push_back(const_cast<char *>(a.c_str()));
		args.push_back(nullptr);
		execvp(args[0], args.data());
		_exit(127);
	}
	return pid;
}

bool private_network()
{
	if (unshare(CLONE_NEWNET) < 0)
		return false;
	int s = socket(AF_INET, SOCK_DGRAM, 0);
	ifreq ifr = {};
	std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
	ioctl(s, SIOCGIFFLAGS, &ifr);
	ifr.ifr_flags |= IFF_UP;
	bool ok = ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
	close(s);
	return ok;
}

namespace {

int echo(ubus_context *ctx, ubus_object *, ubus_request_data *req, const char *, blob_attr *msg)
{
	static blob_buf b;
	blob_buf_init(&b, 0);
	blob_attr *pos;
	size_t rem;
	blob_for_each_attr(pos, msg, rem)
		blobmsg_add_blob(&b, pos);
	ubus_send_reply(ctx, req, b.head);
	return 0;
}

const ubus_method echo_methods[] = {UBUS_METHOD_NOARG("echo", echo)};
ubus_object_type echo_type = UBUS_OBJECT_TYPE("bench", echo_methods);

} // namespace

void run_echo_service(const std::string &socket)
{
	uloop_init();
	ubus_context *ctx = ubus_connect(socket.c_str());
	if (!ctx)
		_exit(1);
	ubus_add_uloop(ctx);
	static ubus_object obj = {};
	obj.name = "bench";
	obj.type = &echo_type;
	obj.methods = echo_methods;
	obj.n_methods = 1;
	if (ubus_add_object(ctx, &obj))
		_exit(2);
	uloop_run();
	_exit(0);
}

} // namespace bench
