// The peers of fleet_bench: a stand-in for the controller's bridge
// "mqtt.wlc" that counts what fleetd sends, bus probes, and a process's
// memory from /proc.
#pragma once

#include <wlc/blob.h>

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace fleetbench {

// A field of /proc/<pid>/status in KiB ("VmRSS", "VmHWM"); -1 when absent.
long status_kib(pid_t pid, const std::string &field);
// Serves "mqtt.wlc" ("send" counts each message, "sent" answers how many) on
// the bus at socket; runs in a child process until killed.
[[noreturn]] void run_bridge(const std::string &socket);
// Waits (up to 10 s) until the object is on the bus.
bool wait_for_object(const std::string &socket, const char *name);
// An unsigned number a bus method answers in field, -1 when it does not.
int64_t ask_number(const std::string &socket, const char *object, const char *method, const char *field,
		   const wlc::BlobBuf &args);

} // namespace fleetbench
