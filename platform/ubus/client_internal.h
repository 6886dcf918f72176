// State and helpers shared by the parts of the bus client library.
#pragma once

#include <wlc/c/ubus.h>

#include <cstdint>
#include <deque>
#include <unordered_map>
#include <utility>
#include <vector>

#include "wire.h"

namespace ubusclient {

struct Io {
	ubuswire::Reader reader;
	std::deque<ubuswire::Message> queued; // invokes that arrived during a synchronous wait
	bool lost = false;     // the daemon closed the connection or an I/O error happened
	bool notified = false; // the owner has been told
	// While a method handler runs, its replies wait here and go out with
	// the status that ends the call, in one write.
	bool corked = false;
	std::vector<char> held;
	// The requests waiting for their answers, by peer and sequence number,
	// each with the order it was added in: a controller has thousands in
	// flight, and a search along the list for every answer cost time in the
	// square of them.
	std::unordered_multimap<uint64_t, std::pair<uint64_t, ubus_request *>> waiting;
	uint64_t added = 0;
};

inline Io &io_of(ubus_context *ctx)
{
	return *static_cast<Io *>(ctx->io);
}

// Sends one message, waiting for the socket to take all of it; the descriptor
// (if any) is closed once sent. Returns 0 or -1.
int send_msg(ubus_context *ctx, uint8_t type, uint16_t seq, uint32_t peer, const blob_attr *attrs, int fd);
// Writes the replies held back while a handler ran (dropped once the
// connection is lost).
void send_held(ubus_context *ctx);

// Starts a request to the daemon (peer 0) or to an object.
int start_request(ubus_context *ctx, ubus_request *req, uint8_t type, uint32_t peer,
		  const blob_attr *attrs, int fd);

// Reads and handles what the socket holds; returns false once the connection is gone.
bool read_messages(ubus_context *ctx);

// Handlers of incoming messages by kind.
void handle_reply(ubus_context *ctx, ubuswire::Message &msg, blob_attr **tb);
void handle_invoke(ubus_context *ctx, ubuswire::Message &msg, blob_attr **tb);

// Marks the connection as lost and has the event loop tell the owner.
void mark_lost(ubus_context *ctx);

// Ends every request still waiting, with the given status.
void fail_requests(ubus_context *ctx, int status);

using ubuswire::AttrBuf;

} // namespace ubusclient
