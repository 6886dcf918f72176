// The bus daemon: accepts clients on a Unix socket, keeps the registry of
// objects and their method signatures, answers lookups and forwards invokes
// and their replies between clients.
#pragma once

#include <wlc/c/ubox.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "../ubus/wire.h"

namespace ubusd {

class Daemon;

struct Client {
	Daemon *daemon = nullptr;
	uint32_t id = 0;
	uloop_fd sock = {};
	ubuswire::Reader reader;
	std::deque<ubuswire::Outgoing> out;
	size_t queued_bytes = 0;
	std::string user;
	std::string group;
	bool dead = false;
	bool flush_pending = false; // queued output to write once the current batch is handled
	bool writing = false;       // waiting for the socket to take more
};

struct ObjectType {
	uint32_t id = 0;
	std::vector<uint32_t> signature; // the SIGNATURE attribute, header included
	int refs = 0;
};

struct Object {
	uint32_t id = 0;
	std::string path;
	Client *owner = nullptr;
	ObjectType *type = nullptr;
	std::set<std::pair<uint32_t, uint16_t>> pending; // (caller, seq) invokes not yet answered
};

class Daemon {
public:
	// Ids are drawn from a generator seeded with id_seed (random by default).
	explicit Daemon(uint32_t id_seed = std::random_device{}());
	~Daemon();
	Daemon(const Daemon &) = delete;
	Daemon &operator=(const Daemon &) = delete;

	bool listen(const std::string &path);

	// Takes a connected stream socket (non-blocking) as a new client and
	// greets it; nullptr when the loop cannot watch it (the socket is closed).
	Client *add_client(int fd);

	// Called from the event loop.
	void accept_clients();
	void client_ready(Client *cl, unsigned int events);
	void reap_dead();

	// Sends to a client; a client that cannot keep up is dropped.
	void send(Client *cl, uint8_t type, uint16_t seq, uint32_t peer, const blob_attr *attrs, int fd = -1);
	void send_status(Client *cl, const ubuswire::Message &msg, int status);

private:
	void handle(Client *cl, ubuswire::Message &msg);
	int handle_lookup(Client *cl, const ubuswire::Message &msg, blob_attr **tb);
	int handle_add_object(Client *cl, const ubuswire::Message &msg, blob_attr **tb);
	int handle_remove_object(Client *cl, const ubuswire::Message &msg, blob_attr **tb);
	int handle_invoke(Client *cl, ubuswire::Message &msg, blob_attr **tb);
	int handle_response(Client *cl, ubuswire::Message &msg, blob_attr **tb);

	void send_object_data(Client *cl, const ubuswire::Message &msg, const Object &obj);
	ObjectType *make_type(blob_attr *signature);
	void release_type(ObjectType *type);
	void remove_object(Object *obj);
	void drop_client(Client *cl);
	void free_client(Client *cl);
	void flush(Client *cl);
	void flush_pending();
	uint32_t new_id();

	uloop_fd listener_ = {};
	uloop_timeout reaper_ = {};
	std::string socket_path_;
	std::mt19937 rng_;
	std::unordered_map<uint32_t, std::unique_ptr<Client>> clients_;
	std::unordered_map<uint32_t, std::unique_ptr<Object>> objects_;
	std::map<std::string, Object *> paths_;
	std::unordered_map<uint32_t, std::unique_ptr<ObjectType>> types_;
	// While the messages of one read are handled, what they send is queued
	// and written afterwards, a client's messages gathered into one write.
	bool batching_ = false;
	std::vector<Client *> to_flush_;
};

} // namespace ubusd
