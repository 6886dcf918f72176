// Calls of the "fleet" object for fleetctl's commands, and reading their
// replies.
#pragma once

#include <wlc/blob.h>
#include <wlc/bus.h>

#include <map>
#include <string>
#include <vector>

namespace fleetctl {

struct Reply {
	int status = UBUS_STATUS_UNKNOWN_ERROR;
	wlc::BlobBuf data;
};

Reply call_fleet(wlc::Bus &bus, const char *method, const wlc::BlobBuf &args);
// A scalar attribute as text (strings as they are, booleans yes/no,
// integers in decimal); "" for anything else.
std::string scalar_text(blob_attr *a);
// A field of a message as text: scalars as they read, tables as JSON, ""
// when absent.
std::string field(blob_attr *msg, const std::string &name);
// The tables of a message's array field, each copied.
std::vector<wlc::BlobBuf> entries(blob_attr *msg, const std::string &name);
// Prints the refusal ("fleetctl: <what>: <message>"); returns 1.
int failed(const char *what, const Reply &r);
int print_json(const Reply &r);
// "--name value" words from index from on; names in flags take no value.
bool read_options(const std::vector<std::string> &words, size_t from, std::map<std::string, std::string> &out,
		  const std::vector<std::string> &flags = {});
// Adds the option as a 32-bit number field; false when it is not one.
bool add_number(const std::map<std::string, std::string> &opts, const char *option, const char *field,
		wlc::BlobBuf &args);

} // namespace fleetctl
