// Logging to the system log with the daemon's ident (facility daemon, no
// options). Host builds can mirror every line to standard error
// (WLC_LOG_STDERR=1) or append it to a file (WLC_LOG_FILE=path) so that
// tests and demos can see what a daemon logged; a device build has no
// mirrors, and a setuid, setgid or capability-raising program ignores both.
#pragma once

#include <syslog.h>

namespace wlc {

void log_open(const char *ident);
void log_close();

// Sets a prefix put before every message (e.g. "[site/44] ").
void log_prefix(const char *prefix);

void logf(int priority, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

} // namespace wlc
