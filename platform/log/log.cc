// System log output with optional mirrors for host builds.
#include <wlc/log.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace wlc {

namespace {

struct LogState {
	std::string ident;
	std::string prefix;
	FILE *mirror = nullptr;
	bool mirror_owned = false;
};

LogState &state()
{
	static LogState s;
	return s;
}

const char *priority_name(int priority)
{
	static const char *const names[] = {"emerg", "alert", "crit", "err", "warning", "notice", "info", "debug"};
	return names[priority & 7];
}

// The mirror the environment asks for: host builds only, and never for a
// secure-execution process (setuid, setgid, file capabilities), whose
// environment belongs to the user who started it.
void open_mirror(LogState &s)
{
#ifdef WLC_ENV_REDIRECTS
	if (const char *file = secure_getenv("WLC_LOG_FILE"); file && *file) {
		s.mirror = std::fopen(file, "ae");
		s.mirror_owned = s.mirror != nullptr;
	} else if (const char *err = secure_getenv("WLC_LOG_STDERR"); err && *err == '1') {
		s.mirror = stderr;
	}
#else
	(void)s;
#endif
}

} // namespace

void log_open(const char *ident)
{
	log_close();
	LogState &s = state();
	s.ident = ident;
	openlog(s.ident.c_str(), 0, LOG_DAEMON);
	open_mirror(s);
}

void log_close()
{
	LogState &s = state();
	if (s.mirror_owned)
		std::fclose(s.mirror);
	s.mirror = nullptr;
	s.mirror_owned = false;
	closelog();
}

void log_prefix(const char *prefix)
{
	state().prefix = prefix ? prefix : "";
}

void logf(int priority, const char *fmt, ...)
{
	LogState &s = state();
	char text[1024];
	va_list ap;
	va_start(ap, fmt);
	std::vsnprintf(text, sizeof(text), fmt, ap);
	va_end(ap);
	syslog(priority, "%s%s", s.prefix.c_str(), text);
	if (s.mirror) {
		std::fprintf(s.mirror, "%s.%s: %s%s\n", s.ident.c_str(), priority_name(priority), s.prefix.c_str(), text);
		std::fflush(s.mirror);
	}
}

} // namespace wlc
