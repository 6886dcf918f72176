// Client connections of the bus daemon: accepting, reading, queued writing
// and clean-up of a client that went away.
#include "daemon.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace ubusd {

namespace {

// A client whose unread replies exceed this is too slow to keep.
constexpr size_t kMaxQueuedBytes = 64u << 20;

Daemon *daemon_of_listener = nullptr;

void on_listener(uloop_fd *, unsigned int)
{
	daemon_of_listener->accept_clients();
}

void on_client(uloop_fd *fd, unsigned int events)
{
	Client *cl = container_of(fd, Client, sock);
	cl->daemon->client_ready(cl, events);
}

void on_reap(uloop_timeout *)
{
	daemon_of_listener->reap_dead();
}

void fill_credentials(Client &cl)
{
	ucred cred = {};
	socklen_t len = sizeof(cred);
	if (getsockopt(cl.sock.fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) < 0)
		return;
	char buf[1024];
	passwd pw, *pwp = nullptr;
	if (getpwuid_r(cred.uid, &pw, buf, sizeof(buf), &pwp) == 0 && pwp)
		cl.user = pw.pw_name;
	group gr, *grp = nullptr;
	if (getgrgid_r(cred.gid, &gr, buf, sizeof(buf), &grp) == 0 && grp)
		cl.group = gr.gr_name;
}

void make_parent_dirs(const std::string &path)
{
	for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1))
		mkdir(path.substr(0, pos).c_str(), 0755);
}

} // namespace

Daemon::Daemon(uint32_t id_seed) : rng_(id_seed)
{
	daemon_of_listener = this;
	reaper_.cb = on_reap;
}

Daemon::~Daemon()
{
	uloop_timeout_cancel(&reaper_);
	while (!clients_.empty())
		free_client(clients_.begin()->second.get());
	if (listener_.fd > 0) {
		uloop_fd_delete(&listener_);
		close(listener_.fd);
		unlink(socket_path_.c_str());
	}
	daemon_of_listener = nullptr;
}

bool Daemon::listen(const std::string &path)
{
	sockaddr_un addr = {};
	addr.sun_family = AF_UNIX;
	if (path.size() >= sizeof(addr.sun_path))
		return false;
	std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
	make_parent_dirs(path);
	// Bound and listening under a temporary name, then moved into place: the
	// path never exists without accepting connections.
	std::string temp = path + ".new";
	if (temp.size() >= sizeof(addr.sun_path))
		return false;
	std::memcpy(addr.sun_path, temp.c_str(), temp.size() + 1);
	unlink(temp.c_str());
	int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
	if (fd < 0)
		return false;
	if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) < 0 || ::listen(fd, 128) < 0 ||
	    chmod(temp.c_str(), 0666) < 0 || rename(temp.c_str(), path.c_str()) < 0) {
		close(fd);
		unlink(temp.c_str());
		return false;
	}
	socket_path_ = path;
	listener_.fd = fd;
	listener_.cb = on_listener;
	return uloop_fd_add(&listener_, ULOOP_READ | ULOOP_EDGE_TRIGGER) == 0;
}

uint32_t Daemon::new_id()
{
	for (;;) {
		uint32_t id = rng_();
		if (id < UBUS_SYSTEM_OBJECT_MAX)
			continue;
		if (!clients_.count(id) && !objects_.count(id) && !types_.count(id))
			return id;
	}
}

void Daemon::accept_clients()
{
	for (;;) {
		int fd = accept4(listener_.fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
		if (fd < 0)
			return;
		add_client(fd);
	}
}

Client *Daemon::add_client(int fd)
{
	auto cl = std::make_unique<Client>();
	cl->daemon = this;
	cl->id = new_id();
	cl->sock.fd = fd;
	cl->sock.cb = on_client;
	fill_credentials(*cl);
	if (uloop_fd_add(&cl->sock, ULOOP_READ) < 0) {
		close(fd);
		return nullptr;
	}
	Client *raw = cl.get();
	clients_[raw->id] = std::move(cl);
	send(raw, UBUS_MSG_HELLO, 0, raw->id, nullptr);
	return raw;
}

void Daemon::client_ready(Client *cl, unsigned int events)
{
	if (events & ULOOP_WRITE)
		flush(cl);
	if (!(events & ULOOP_READ))
		return;
	batching_ = true;
	while (!cl->dead) {
		ubuswire::Message msg;
		ubuswire::ReadResult r = cl->reader.read(cl->sock.fd, msg);
		if (r == ubuswire::ReadResult::Again)
			break;
		if (r != ubuswire::ReadResult::Message) {
			drop_client(cl);
			break;
		}
		handle(cl, msg);
		// A socket that reported its peer's end is no longer watched: it is
		// read up to that end now, or the client would stay for good.
		if (cl->reader.drained() && !cl->sock.eof && !cl->sock.error)
			break;
	}
	batching_ = false;
	flush_pending();
}

void Daemon::send(Client *cl, uint8_t type, uint16_t seq, uint32_t peer, const blob_attr *attrs, int fd)
{
	if (cl->dead)
		return;
	ubuswire::Outgoing out = ubuswire::encode(type, seq, peer, attrs, fd);
	// The descriptor must stay open until it has gone out with the first byte.
	if (out.fd >= 0)
		out.fd = dup(out.fd);
	cl->queued_bytes += out.bytes.size();
	cl->out.push_back(std::move(out));
	if (cl->queued_bytes > kMaxQueuedBytes) {
		drop_client(cl);
		return;
	}
	if (!cl->flush_pending) {
		cl->flush_pending = true;
		to_flush_.push_back(cl);
	}
	if (!batching_)
		flush_pending();
}

void Daemon::flush_pending()
{
	std::vector<Client *> clients;
	clients.swap(to_flush_);
	for (Client *cl : clients) {
		cl->flush_pending = false;
		flush(cl);
	}
}

void Daemon::flush(Client *cl)
{
	if (cl->dead)
		return;
	size_t written = 0;
	ubuswire::WriteResult r = ubuswire::write_queue(cl->sock.fd, cl->out, written);
	cl->queued_bytes -= written;
	if (r == ubuswire::WriteResult::Error) {
		drop_client(cl);
		return;
	}
	// Watched for writing only while the socket holds back part of the queue.
	bool writing = r == ubuswire::WriteResult::Partial;
	if (writing != cl->writing) {
		cl->writing = writing;
		uloop_fd_add(&cl->sock, writing ? ULOOP_READ | ULOOP_WRITE : ULOOP_READ);
	}
}

void Daemon::drop_client(Client *cl)
{
	if (cl->dead)
		return;
	cl->dead = true;
	uloop_fd_delete(&cl->sock);
	uloop_timeout_set(&reaper_, 0);
}

void Daemon::reap_dead()
{
	std::vector<Client *> dead;
	for (auto &[id, cl] : clients_)
		if (cl->dead)
			dead.push_back(cl.get());
	for (Client *cl : dead)
		free_client(cl);
}

void Daemon::free_client(Client *cl)
{
	cl->dead = true;
	to_flush_.erase(std::remove(to_flush_.begin(), to_flush_.end(), cl), to_flush_.end());
	std::vector<Object *> owned;
	for (auto &[id, obj] : objects_)
		if (obj->owner == cl)
			owned.push_back(obj.get());
	for (Object *obj : owned)
		remove_object(obj);
	uloop_fd_delete(&cl->sock);
	close(cl->sock.fd);
	for (auto &out : cl->out)
		if (out.fd >= 0)
			close(out.fd);
	clients_.erase(cl->id);
}

} // namespace ubusd
