// A small stand-in for the controller's management services, for the
// simulated site: it approves every join request with a JOIN_RESP, keeps a
// retained VERSION with the firmware revision the site runs, and sends each
// AP that joined one CONFIG. With -n it leaves join approval to fleetd and
// only keeps VERSION and sends CONFIG.
//   sim_wlc_services -r <revision> [-v <version>] [-c <config JSON>] [-p <broker port>]
//                    [-u <user> -P <password>] [-n]
#include <mosquitto.h>

#include <wlc/blob.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

struct Services {
	std::string revision;
	std::string version = "1.0.0";
	std::string config = "{}";
	bool answer_joins = true;
};

void publish(mosquitto *m, const std::string &topic, const wlc::BlobBuf &msg, bool retain)
{
	mosquitto_publish(m, nullptr, topic.c_str(), static_cast<int>(blob_raw_len(msg.head())), msg.head(), 2, retain);
}

void on_connect(mosquitto *m, void *user, int rc) noexcept
{
	if (rc != 0)
		return;
	auto *s = static_cast<Services *>(user);
	mosquitto_subscribe(m, nullptr, "zev/wlc/control/ap/+/join_request", 2);
	wlc::BlobBuf version;
	version.add("version", s->version).add("revision", s->revision);
	publish(m, "zev/wlc/firmware/version", version, true);
}

void on_message(mosquitto *m, void *user, const mosquitto_message *msg) noexcept
{
	auto *s = static_cast<Services *>(user);
	std::string topic = msg->topic;
	std::string prefix = "zev/wlc/control/ap/";
	std::string id = topic.substr(prefix.size(), topic.find('/', prefix.size()) - prefix.size());
	if (s->answer_joins) {
		std::fprintf(stderr, "wlc services: join request from %s, approved\n", id.c_str());
		mosquitto_publish(m, nullptr, (prefix + id + "/join_response").c_str(), 0, nullptr, 2, false);
	}
	wlc::BlobBuf config;
	config.add("id", id);
	{
		wlc::BlobBuf fields;
		fields.add_json(s->config);
		auto table = config.table("config");
		config.add_fields(fields.head());
	}
	publish(m, "zev/wlc/config/ap/" + id + "/config", config, true);
}

} // namespace

int main(int argc, char **argv)
{
	Services s;
	int port = 1883, ch;
	std::string user, password; // the controller's credentials on a locked-down broker
	while ((ch = getopt(argc, argv, "r:v:c:p:u:P:n")) != -1) {
		if (ch == 'r')
			s.revision = optarg;
		else if (ch == 'v')
			s.version = optarg;
		else if (ch == 'c')
			s.config = optarg;
		else if (ch == 'p')
			port = std::atoi(optarg);
		else if (ch == 'u')
			user = optarg;
		else if (ch == 'P')
			password = optarg;
		else if (ch == 'n')
			s.answer_joins = false;
		else
			return 1;
	}
	mosquitto_lib_init();
	mosquitto *m = mosquitto_new("wlc-services", true, &s);
	if (!m)
		return 1;
	mosquitto_connect_callback_set(m, on_connect);
	mosquitto_message_callback_set(m, on_message);
	if (!user.empty() && mosquitto_username_pw_set(m, user.c_str(), password.c_str()) != MOSQ_ERR_SUCCESS)
		return 1;
	if (mosquitto_connect(m, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS)
		return 1;
	int rc = mosquitto_loop_forever(m, -1, 1);
	mosquitto_destroy(m);
	mosquitto_lib_cleanup();
	return rc == MOSQ_ERR_SUCCESS ? 0 : 1;
}
