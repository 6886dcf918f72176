// Relays from MQTT topics to local bus objects: AP logs to the controller's
// log service, IAPP messages to "iapp", RRM reports to the RRM controllers and
// RRM commands to the RRM agents.
#pragma once

#include <wlc/bus.h>

#include "../core/options.h"
#include "../mqtt/instance.h"

namespace mast {

// Controller, on every connection: subscribes the AP logs when the log
// service is there; -1 when it is missing.
int log_relay_start(wlc::Bus &bus, MqttInstance &inst);
void log_relay_stop();

// Both roles, after every connection (IAPP first).
void iapp_subscribe(const Options &opts, const std::string &own_id, wlc::Bus &bus, MqttInstance &inst);
void rrm_subscribe(const Options &opts, const std::string &own_id, wlc::Bus &bus, MqttInstance &inst);

} // namespace mast
