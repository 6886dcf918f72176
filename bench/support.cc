// Shared pieces of the benchmark programs.
#include "support.h"

#include <wlc/c/blobmsg_json.h>
#include <wlc/c/ubus.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
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

void stop(pid_t &pid)
{
	if (pid <= 0)
		return;
	kill(pid, SIGTERM);
	waitpid(pid, nullptr, 0);
	pid = -1;
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

int connect_loopback(int port)
{
	int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_in a{};
	a.sin_family = AF_INET;
	a.sin_port = htons(static_cast<uint16_t>(port));
	a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof(a)) == 0)
		return fd;
	if (fd >= 0)
		close(fd);
	return -1;
}

bool port_open(int port)
{
	int fd = connect_loopback(port);
	if (fd >= 0)
		close(fd);
	return fd >= 0;
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

std::vector<uint8_t> encode_json(const std::string &json)
{
	blob_buf b = {};
	blob_buf_init(&b, 0);
	blobmsg_add_json_from_string(&b, json.c_str());
	auto *p = reinterpret_cast<uint8_t *>(b.head);
	std::vector<uint8_t> out(p, p + blob_raw_len(b.head));
	blob_buf_free(&b);
	return out;
}

MqttClient::MqttClient(const char *id, int port, const TlsFiles *tls)
{
	m = mosquitto_new(id, true, this);
	mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
	if (tls) {
		mosquitto_tls_set(m, tls->ca.c_str(), nullptr, tls->cert.c_str(), tls->key.c_str(), nullptr);
		mosquitto_tls_insecure_set(m, true);
	}
	mosquitto_message_callback_set(m, [](mosquitto *, void *self, const mosquitto_message *msg) {
		auto *c = static_cast<MqttClient *>(self);
		if (c->on_msg)
			c->on_msg(msg);
		std::lock_guard<std::mutex> l(c->mu);
		c->received++;
		c->cv.notify_all();
	});
	for (int i = 0; i < 100 && mosquitto_connect(m, "127.0.0.1", port, 60) != MOSQ_ERR_SUCCESS; i++)
		usleep(50000);
	mosquitto_loop_start(m);
}

MqttClient::~MqttClient()
{
	mosquitto_disconnect(m);
	mosquitto_loop_stop(m, true);
	mosquitto_destroy(m);
}

void MqttClient::subscribe(const char *filter, int qos)
{
	mosquitto_subscribe(m, nullptr, filter, qos);
	usleep(200000);
}

bool MqttClient::wait_for(uint64_t n, std::chrono::milliseconds limit)
{
	std::unique_lock<std::mutex> l(mu);
	return cv.wait_for(l, limit, [&] { return received >= n; });
}

void answer_requests(MqttClient &ap)
{
	ap.on_msg = [&ap](const mosquitto_message *msg) {
		std::vector<uint32_t> aligned(static_cast<size_t>(msg->payloadlen) / 4 + 2);
		std::memcpy(aligned.data(), msg->payload, static_cast<size_t>(msg->payloadlen));
		auto *attr = reinterpret_cast<blob_attr *>(aligned.data());
		static const blobmsg_policy p = {"msg_id", BLOBMSG_TYPE_INT32};
		blob_attr *tb;
		blobmsg_parse(&p, 1, &tb, blob_data(attr), static_cast<unsigned int>(blob_len(attr)));
		int id = tb ? static_cast<int>(blobmsg_get_u32(tb)) : -1;
		auto reply = encode_json("{\"msg_id\":" + std::to_string(id) + ",\"data\":{\"ok\":true},\"code\":0}");
		std::string topic = msg->topic;
		topic.replace(topic.find("/request/"), 9, "/response/");
		mosquitto_publish(ap.m, nullptr, topic.c_str(), static_cast<int>(reply.size()), reply.data(), 2, false);
	};
}

double cpu_seconds(pid_t pid)
{
	std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
	std::string line;
	std::getline(stat, line);
	size_t close = line.rfind(')');
	if (close == std::string::npos)
		return 0;
	std::istringstream rest(line.substr(close + 2));
	std::string field;
	unsigned long long ticks = 0;
	for (int n = 3; rest >> field && n <= 15; n++)
		if (n == 14 || n == 15)
			ticks += std::stoull(field);
	return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

} // namespace bench
