// Telemetry requests from the controller answered by local bus methods: a
// request names an object, a method, its arguments and a time limit; every
// reply of the call goes back in one response, followed by the call's status.
#pragma once

#include <wlc/bus.h>
#include <wlc/loop.h>

#include <list>
#include <memory>
#include <optional>
#include <string>

#include "../mqtt/instance.h"

namespace mast {

class TelemetryRelay {
public:
	// Requests beyond this number of calls in flight are answered at once
	// with an error.
	static constexpr size_t kMaxCalls = 32;
	static constexpr int kDefaultTimeoutMs = 1000;

	// The time limit of a call: the request's "timeout" (a signed 32-bit
	// field) as asked, at least 1 ms, the default when it names none. Some
	// methods honestly take long (an upload, a channel selection), so no
	// upper bound is put on it.
	[[nodiscard]] static int call_timeout_ms(std::optional<uint32_t> requested);

	TelemetryRelay(wlc::Bus &bus, MqttInstance &inst, std::string own_id);
	~TelemetryRelay();
	TelemetryRelay(const TelemetryRelay &) = delete;
	TelemetryRelay &operator=(const TelemetryRelay &) = delete;

	void handle(const void *payload, size_t len);
	size_t in_flight() const { return calls_.size(); }
	// The bytes of one call record, so that a test can make its allocation fail.
	[[nodiscard]] static size_t call_record_size();

private:
	struct Call;
	void finish(Call *call, int status);
	void refuse(uint32_t msg_id);
	void publish_response(const wlc::BlobBuf &response);
	void reap();

	wlc::Bus &bus_;
	MqttInstance &inst_;
	std::string topic_;
	std::list<std::unique_ptr<Call>> calls_;
	wlc::Timer reaper_;
};

} // namespace mast
