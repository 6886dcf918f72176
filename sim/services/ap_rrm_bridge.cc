// Stand-in for the access point's MQTT bridge, as far as RRM needs it, until
// the AP role of mast runs here: serves "mqtt.wlc" "send" on the AP's bus by
// publishing the message to the broker (one blob attribute, as mast does),
// and hands the RRM commands for this AP and radio to "rrm_agent.<radio>".
//   sim_ap_rrm_bridge -s <site> -b <radio> [-h <broker host>] [-p <port>]
#include <wlc/bus.h>
#include <wlc/log.h>
#include <wlc/loop.h>
#include <zev/devinfo.h>

#include <mosquitto.h>

#include <array>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Bridge {
	wlc::Bus bus;
	mosquitto *mosq = nullptr;
	std::string agent;
	wlc::Timer pump{[this] { tick(); }};

	void tick()
	{
		mosquitto_loop(mosq, 0, 1);
		pump.set(20);
	}
};

int send(Bridge &b, blob_attr *msg)
{
	static const std::array<blobmsg_policy, 3> policy = {
		{{"path", BLOBMSG_TYPE_STRING}, {"qos", BLOBMSG_TYPE_INT32}, {"message", BLOBMSG_TYPE_TABLE}}};
	wlc::Fields<3> f;
	if (!f.parse(policy, msg) || !f.has(0) || !f.has(2))
		return UBUS_STATUS_INVALID_ARGUMENT;
	wlc::BlobBuf payload;
	payload.add_fields(f[2]);
	std::string topic(*f.str(0));
	int qos = static_cast<int>(f.u32(1).value_or(0));
	int r = mosquitto_publish(b.mosq, nullptr, topic.c_str(), static_cast<int>(blob_raw_len(payload.head())),
				  payload.head(), qos, false);
	return r == MOSQ_ERR_SUCCESS ? 0 : UBUS_STATUS_UNKNOWN_ERROR;
}

void on_message(mosquitto *, void *user, const mosquitto_message *m) noexcept
{
	auto &b = *static_cast<Bridge *>(user);
	size_t len = static_cast<size_t>(m->payloadlen);
	if (len < sizeof(blob_attr))
		return;
	std::vector<uint32_t> aligned(len / 4 + 1);
	std::memcpy(aligned.data(), m->payload, len);
	auto *attr = reinterpret_cast<blob_attr *>(aligned.data());
	if (blob_raw_len(attr) > len || blob_raw_len(attr) < sizeof(blob_attr))
		return;
	std::string topic = m->topic;
	std::string method = topic.substr(topic.rfind('/') + 1);
	try {
		wlc::BlobBuf args;
		args.add_fields(attr);
		uint32_t id = b.bus.lookup(b.agent);
		if (id)
			b.bus.call(id, method, args, nullptr, 2000);
	} catch (...) {
	}
}

} // namespace

int main(int argc, char **argv)
{
	std::string site, host = "127.0.0.1";
	int radio = 0, port = 1883, ch;
	while ((ch = getopt(argc, argv, "s:b:h:p:")) != -1) {
		switch (ch) {
		case 's': site = optarg; break;
		case 'b': radio = std::atoi(optarg); break;
		case 'h': host = optarg; break;
		case 'p': port = std::atoi(optarg); break;
		default: return 1;
		}
	}
	wlc::log_open("ap_rrm_bridge");
	mosquitto_lib_init();
	uloop_init();
	Bridge b;
	b.agent = "rrm_agent." + std::to_string(radio);
	std::string id = zev_devinfo_id();
	b.mosq = mosquitto_new(("ap-" + id).c_str(), true, &b);
	mosquitto_message_callback_set(b.mosq, on_message);
	int ret = 1;
	if (b.mosq && mosquitto_connect(b.mosq, host.c_str(), port, 30) == MOSQ_ERR_SUCCESS && b.bus.connect()) {
		std::string base = "zev/wlc/rrm/" + site + "/ap/";
		for (const std::string &target : {id, std::string("all")})
			mosquitto_subscribe(b.mosq, nullptr, (base + target + "/" + std::to_string(radio) + "/cmd/+").c_str(), 1);
		wlc::BusObject obj("mqtt.wlc", {{"send", {}, [&b](wlc::Request &, blob_attr *m) { return send(b, m); }}},
				   "mqtt.instance");
		if (obj.add(b.bus) == 0) {
			b.bus.watch();
			b.bus.on_lost([] { uloop_end(); });
			b.tick();
			uloop_run();
			ret = 0;
		}
	} else {
		wlc::logf(LOG_ERR, "Failed to connect");
	}
	if (b.mosq)
		mosquitto_destroy(b.mosq);
	b.bus.close();
	uloop_done();
	mosquitto_lib_cleanup();
	wlc::log_close();
	return ret;
}
