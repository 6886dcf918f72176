// Stand-in for the platform's mDNS service "umdns": "query" starts a lookup
// (answered with a status only), "browse" hands back the services found,
// here a scripted table read from a JSON file on every call.
//   sim_umdns [-s <socket>] [-t <table.json>] [-m normal|fail-query|silent-browse]
// Modes: "fail-query" answers every query with an error; "silent-browse"
// never answers a browse. Each call is appended to <table.json>.calls.
#include <wlc/bus.h>

#include <fstream>
#include <list>
#include <sstream>
#include <string>
#include <unistd.h>

#include "run_service.h"

namespace {

std::string table_file;
std::string mode = "normal";
std::list<wlc::DeferredReply> never_answered;

void record(const std::string &line)
{
	if (!table_file.empty())
		std::ofstream(table_file + ".calls", std::ios::app) << line << "\n";
}

int query(wlc::Request &, blob_attr *msg)
{
	record("query " + wlc::BlobBuf().add_fields(msg).json());
	return mode == "fail-query" ? UBUS_STATUS_UNKNOWN_ERROR : UBUS_STATUS_OK;
}

int browse(wlc::Request &req, blob_attr *)
{
	record("browse");
	if (mode == "silent-browse") {
		never_answered.push_back(req.defer());
		return UBUS_STATUS_OK;
	}
	std::ifstream in(table_file);
	std::stringstream text;
	text << in.rdbuf();
	wlc::BlobBuf reply;
	if (!text.str().empty() && !reply.add_json(text.str()))
		return UBUS_STATUS_UNKNOWN_ERROR;
	req.reply(reply);
	return UBUS_STATUS_OK;
}

} // namespace

int main(int argc, char **argv)
{
	std::vector<char *> service_args = {argv[0]};
	int ch;
	while ((ch = getopt(argc, argv, "s:t:m:")) != -1) {
		if (ch == 's') {
			service_args.push_back(const_cast<char *>("-s"));
			service_args.push_back(optarg);
		} else if (ch == 't') {
			table_file = optarg;
		} else if (ch == 'm') {
			mode = optarg;
		} else {
			return 1;
		}
	}
	optind = 1;
	wlc::BusObject umdns("umdns", {{"query", {}, query}, {"browse", {}, browse}});
	return sim::run_service("umdns", static_cast<int>(service_args.size()), service_args.data(), umdns);
}
