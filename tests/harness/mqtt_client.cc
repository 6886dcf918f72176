// Test MQTT client.
#include "mqtt_client.h"

#include <mosquitto.h>

#include <optional>
#include <stdexcept>
#include <thread>

namespace wlctest {

namespace {

const char *or_null(const std::string &s)
{
	return s.empty() ? nullptr : s.c_str();
}

void set_auth(mosquitto *m, const ClientAuth &auth)
{
	if (!auth.cafile.empty())
		mosquitto_tls_set(m, auth.cafile.c_str(), nullptr, or_null(auth.certfile), or_null(auth.keyfile), nullptr);
	if (!auth.username.empty())
		mosquitto_username_pw_set(m, auth.username.c_str(), or_null(auth.password));
}

} // namespace

MqttClient::MqttClient(const std::string &id, int port, const std::string &cafile, bool clean)
	: MqttClient(id, port, ClientAuth{cafile, "", "", "", ""}, clean)
{
}

MqttClient::MqttClient(const std::string &id, int port, const ClientAuth &auth, bool clean)
{
	mosquitto_lib_init();
	m_ = mosquitto_new(id.c_str(), clean, this);
	if (!m_)
		throw std::runtime_error("mosquitto_new failed");
	mosquitto_message_callback_set(m_, &MqttClient::on_message);
	mosquitto_subscribe_callback_set(m_, &MqttClient::on_subscribe);
	set_auth(m_, auth);
	int rc = MOSQ_ERR_UNKNOWN;
	for (int i = 0; i < 50 && rc != MOSQ_ERR_SUCCESS; i++) {
		rc = mosquitto_connect(m_, "127.0.0.1", port, 30);
		if (rc != MOSQ_ERR_SUCCESS)
			std::this_thread::sleep_for(std::chrono::milliseconds(100));
	}
	if (rc != MOSQ_ERR_SUCCESS || mosquitto_loop_start(m_) != MOSQ_ERR_SUCCESS)
		throw std::runtime_error("test MQTT client cannot connect");
}

MqttClient::~MqttClient()
{
	mosquitto_disconnect(m_);
	mosquitto_loop_stop(m_, true);
	mosquitto_destroy(m_);
}

void MqttClient::will(const std::string &topic, const std::vector<uint8_t> &payload, bool retain)
{
	mosquitto_will_set(m_, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, retain);
}

bool MqttClient::subscribe(const std::string &filter, int qos)
{
	std::unique_lock<std::mutex> lock(mu_);
	int before = subscribed_;
	lock.unlock();
	if (mosquitto_subscribe(m_, nullptr, filter.c_str(), qos) != MOSQ_ERR_SUCCESS)
		return false;
	lock.lock();
	return cv_.wait_for(lock, std::chrono::seconds(5), [&] { return subscribed_ > before; });
}

bool MqttClient::publish(const std::string &topic, const std::vector<uint8_t> &payload, int qos, bool retain)
{
	return mosquitto_publish(m_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
				 payload.empty() ? nullptr : payload.data(), qos, retain) == MOSQ_ERR_SUCCESS;
}

bool MqttClient::next(MqttMessage &out, std::chrono::milliseconds limit)
{
	std::unique_lock<std::mutex> lock(mu_);
	if (!cv_.wait_for(lock, limit, [&] { return !inbox_.empty(); }))
		return false;
	out = std::move(inbox_.front());
	inbox_.pop_front();
	return true;
}

size_t MqttClient::pending()
{
	std::lock_guard<std::mutex> lock(mu_);
	return inbox_.size();
}

void MqttClient::on_message(mosquitto *, void *self, const mosquitto_message *msg)
{
	auto *c = static_cast<MqttClient *>(self);
	MqttMessage m;
	m.topic = msg->topic;
	auto *p = static_cast<const uint8_t *>(msg->payload);
	m.payload.assign(p, p + msg->payloadlen);
	m.retain = msg->retain;
	std::lock_guard<std::mutex> lock(c->mu_);
	c->inbox_.push_back(std::move(m));
	c->cv_.notify_all();
}

void MqttClient::on_subscribe(mosquitto *, void *self, int, int, const int *)
{
	auto *c = static_cast<MqttClient *>(self);
	std::lock_guard<std::mutex> lock(c->mu_);
	c->subscribed_++;
	c->cv_.notify_all();
}

int try_connect(const std::string &id, int port, const ClientAuth &auth)
{
	struct Outcome {
		std::mutex mu;
		std::condition_variable cv;
		std::optional<int> code;
	} outcome;
	mosquitto_lib_init();
	mosquitto *m = mosquitto_new(id.c_str(), true, &outcome);
	if (!m)
		return -1;
	auto settle = [](mosquitto *, void *self, int code) {
		auto *o = static_cast<Outcome *>(self);
		std::lock_guard<std::mutex> lock(o->mu);
		if (!o->code)
			o->code = code;
		o->cv.notify_all();
	};
	mosquitto_connect_callback_set(m, settle);
	// A close before any CONNACK is no session.
	mosquitto_disconnect_callback_set(m, [](mosquitto *, void *self, int) {
		auto *o = static_cast<Outcome *>(self);
		std::lock_guard<std::mutex> lock(o->mu);
		if (!o->code)
			o->code = -1;
		o->cv.notify_all();
	});
	set_auth(m, auth);
	int result = -1;
	if (mosquitto_connect(m, "127.0.0.1", port, 30) == MOSQ_ERR_SUCCESS && mosquitto_loop_start(m) == MOSQ_ERR_SUCCESS) {
		std::unique_lock<std::mutex> lock(outcome.mu);
		if (outcome.cv.wait_for(lock, std::chrono::seconds(10), [&] { return outcome.code.has_value(); }))
			result = *outcome.code;
		lock.unlock();
		mosquitto_disconnect(m);
		mosquitto_loop_stop(m, true);
	}
	mosquitto_destroy(m);
	return result;
}

} // namespace wlctest
