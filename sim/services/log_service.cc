// Stand-in for the platform's system log service "log".
//   "add" {msg, priority, hostname?}: records the entry (one JSON line in
//       <record file>) and streams it to every reader;
//   "read" {stream, oneshot, lines}: hands back a descriptor on which the
//       entries that follow are written as blob entries {msg, id, priority,
//       source, time}, a few bytes per write, so that entries are split
//       across writes;
//   "inject" {hex}: writes raw bytes to every reader (broken streams).
//   sim_log [-s <socket>] [-r <record file>] [-c <bytes per write>]
#include <wlc/bus.h>
#include <wlc/loop.h>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <list>
#include <memory>
#include <string>

#include "run_service.h"

namespace {

std::string record_file;
size_t chunk = 7;
uint32_t next_id = 0;

// One reader: our end of its socket and what is still to be written.
struct Reader {
	wlc::UniqueFd fd;
	std::string out;
};
std::list<Reader> readers;

void write_some();
wlc::Timer writer(write_some);

// A chunk per reader per turn, so the reader sees entries in pieces.
void write_some()
{
	bool more = false;
	for (auto it = readers.begin(); it != readers.end();) {
		size_t n = std::min(chunk, it->out.size());
		if (n && send(it->fd.get(), it->out.data(), n, MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
			it = readers.erase(it); // the reader went away
			continue;
		}
		it->out.erase(0, n);
		more = more || !it->out.empty();
		++it;
	}
	if (more)
		writer.set(5);
}

void stream(const std::string &bytes)
{
	for (Reader &r : readers)
		r.out += bytes;
	if (!writer.pending())
		writer.set(0);
}

int add(wlc::Request &, blob_attr *msg)
{
	wlc::Fields<2> f;
	if (!f.parse({{{"msg", BLOBMSG_TYPE_STRING}, {"priority", BLOBMSG_TYPE_INT32}}}, msg) || !f.has(0))
		return UBUS_STATUS_INVALID_ARGUMENT;
	if (!record_file.empty())
		std::ofstream(record_file, std::ios::app) << wlc::BlobBuf().add_fields(msg).json() << "\n";
	wlc::BlobBuf entry;
	entry.add("msg", *f.str(0));
	entry.add_u32("id", next_id++);
	entry.add_u32("priority", f.u32(1).value_or(6));
	entry.add_u32("source", 0);
	entry.add_u64("time", static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()));
	stream(std::string(reinterpret_cast<const char *>(entry.head()), blob_raw_len(entry.head())));
	return UBUS_STATUS_OK;
}

int read_log(wlc::Request &req, blob_attr *)
{
	int sv[2];
	if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) < 0)
		return UBUS_STATUS_UNKNOWN_ERROR;
	readers.push_back(Reader{wlc::UniqueFd(sv[0]), {}});
	req.set_fd(sv[1]);
	return UBUS_STATUS_OK;
}

int inject(wlc::Request &, blob_attr *msg)
{
	wlc::Fields<1> f;
	if (!f.parse({{{"hex", BLOBMSG_TYPE_STRING}}}, msg) || !f.has(0))
		return UBUS_STATUS_INVALID_ARGUMENT;
	std::string hex(*f.str(0)), bytes;
	for (size_t i = 0; i + 1 < hex.size(); i += 2)
		bytes += static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
	stream(bytes);
	return UBUS_STATUS_OK;
}

int reader_count(wlc::Request &req, blob_attr *)
{
	wlc::BlobBuf reply;
	reply.add_u32("readers", static_cast<uint32_t>(readers.size()));
	req.reply(reply);
	return UBUS_STATUS_OK;
}

} // namespace

int main(int argc, char **argv)
{
	std::vector<char *> service_args = {argv[0]};
	int ch;
	while ((ch = getopt(argc, argv, "s:r:c:")) != -1) {
		if (ch == 's') {
			service_args.push_back(const_cast<char *>("-s"));
			service_args.push_back(optarg);
		} else if (ch == 'r') {
			record_file = optarg;
		} else if (ch == 'c') {
			chunk = std::max(1ul, std::strtoul(optarg, nullptr, 10));
		} else {
			return 1;
		}
	}
	optind = 1;
	wlc::BusObject log("log", {{"add", {}, add}, {"read", {}, read_log}, {"inject", {}, inject},
				   {"readers", {}, reader_count}});
	return sim::run_service("log", static_cast<int>(service_args.size()), service_args.data(), log);
}
