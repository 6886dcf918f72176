// Test MQTT client.
#include "mqtt_client.h"

#include <mosquitto.h>

#include <stdexcept>
#include <thread>

namespace wlctest {

MqttClient::MqttClient(const std::string &id, int port, const std::string &cafile, bool clean)
{
	mosquitto_lib_init();
	m_ = mosquitto_new(id.c_str(), clean, this);
	if (!m_)
		throw std::runtime_error("mosquitto_new failed");
	mosquitto_message_callback_set(m_, &MqttClient::on_message);
	mosquitto_subscribe_callback_set(m_, &MqttClient::on_subscribe);
	if (!cafile.empty())
		mosquitto_tls_set(m_, cafile.c_str(), nullptr, nullptr, nullptr, nullptr);
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

} // namespace wlctest
