// ubus: command-line client of the bus. Lists objects and calls methods with
// JSON arguments, printing replies as JSON.
#include <wlc/c/blobmsg_json.h>
#include <wlc/c/ubus.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

struct Options {
	const char *socket = nullptr;
	int timeout_s = 30;
	bool simple = false;
	int verbose = 0;
	bool failure_reported = false;
};

Options opts;

const char *policy_type_name(void *, blob_attr *attr)
{
	if (blob_id(attr) != BLOBMSG_TYPE_INT32)
		return nullptr;
	switch (blobmsg_get_u32(attr)) {
	case BLOBMSG_TYPE_INT8: return "\"Boolean\"";
	case BLOBMSG_TYPE_INT32: return "\"Integer\"";
	case BLOBMSG_TYPE_STRING: return "\"String\"";
	case BLOBMSG_TYPE_ARRAY: return "\"Array\"";
	case BLOBMSG_TYPE_TABLE: return "\"Table\"";
	default: return "\"(unknown)\"";
	}
}

void print_object(ubus_context *, ubus_object_data *obj, void *)
{
	if (opts.simple || !opts.verbose) {
		std::printf("%s\n", obj->path);
		return;
	}
	std::printf("'%s' @%08x\n", obj->path, obj->id);
	if (!obj->signature)
		return;
	blob_attr *method;
	size_t rem;
	blob_for_each_attr(method, obj->signature, rem) {
		char *text = blobmsg_format_json_with_cb(method, false, policy_type_name, nullptr, -1);
		if (text)
			std::printf("\t%s\n", text);
		std::free(text);
	}
}

void print_reply(ubus_request *, int, blob_attr *msg)
{
	if (!msg)
		return;
	char *text = blobmsg_format_json_indent(msg, true, opts.simple ? -1 : 0);
	if (text)
		std::printf("%s\n", text);
	std::free(text);
}

int cmd_list(ubus_context *ctx, int argc, char **argv)
{
	if (argc > 1)
		return -2;
	return ubus_lookup(ctx, argc == 1 ? argv[0] : nullptr, print_object, nullptr);
}

// A failed call, as the platform's tool reports it: standard error read by a
// script gets the whole command and the exit status 256 minus the ubus status;
// a terminal gets the error alone (printed by main) and the status itself.
int call_failed(int status, int argc, char **argv)
{
	if (opts.simple || isatty(STDERR_FILENO))
		return status;
	std::string line = "Command failed: ubus call ";
	for (int i = 0; i < argc; i++)
		line.append(argv[i]).append(" ");
	std::fprintf(stderr, "%s(%s)\n", line.c_str(), ubus_strerror(status));
	opts.failure_reported = true;
	return status;
}

int cmd_call(ubus_context *ctx, int argc, char **argv)
{
	if (argc < 2 || argc > 3)
		return -2;
	blob_buf b = {};
	blob_buf_init(&b, 0);
	int ret = UBUS_STATUS_OK;
	uint32_t id = 0;
	if (argc == 3 && !blobmsg_add_json_from_string(&b, argv[2]))
		ret = call_failed(UBUS_STATUS_PARSE_ERROR, argc, argv);
	else if ((ret = ubus_lookup_id(ctx, argv[0], &id)) == 0) {
		ret = ubus_invoke(ctx, id, argv[1], b.head, print_reply, nullptr, opts.timeout_s * 1000);
		if (ret > 0)
			ret = call_failed(ret, argc, argv);
	}
	blob_buf_free(&b);
	return ret;
}

int usage(const char *prog)
{
	std::fprintf(stderr,
		     "Usage: %s [<options>] <command> [arguments...]\n"
		     "Options:\n"
		     " -s <socket>:\t\tSet the unix domain socket to connect to\n"
		     " -t <timeout>:\t\tSet the timeout (in seconds) for a command to complete\n"
		     " -S:\t\t\tUse simplified output (for scripts)\n"
		     " -v:\t\t\tMore verbose output\n"
		     "\n"
		     "Commands:\n"
		     " - list [<path>]\t\t\tList objects\n"
		     " - call <path> <method> [<message>]\tCall an object method\n"
		     "\n",
		     prog);
	return 1;
}

} // namespace

int main(int argc, char **argv)
{
	int ch;
	while ((ch = getopt(argc, argv, "vs:t:S")) != -1) {
		switch (ch) {
		case 's': opts.socket = optarg; break;
		case 't': opts.timeout_s = std::atoi(optarg); break;
		case 'S': opts.simple = true; break;
		case 'v': opts.verbose++; break;
		default: return usage(argv[0]);
		}
	}
	argc -= optind;
	argv += optind;
	if (argc < 1)
		return usage(argv[-optind]);
	const std::string cmd = argv[0];
	ubus_context *ctx = ubus_connect(opts.socket);
	if (!ctx) {
		if (!opts.simple)
			std::fprintf(stderr, "Failed to connect to ubus\n");
		return -1;
	}
	int ret = -2;
	if (cmd == "list")
		ret = cmd_list(ctx, argc - 1, argv + 1);
	else if (cmd == "call")
		ret = cmd_call(ctx, argc - 1, argv + 1);
	if (opts.failure_reported)
		ret = -ret;
	else if (ret > 0 && !opts.simple)
		std::fprintf(stderr, "Command failed: %s\n", ubus_strerror(ret));
	else if (ret == -2)
		usage("ubus");
	ubus_free(ctx);
	return ret;
}
