// Bounded retry loop and the KEY=value file reader.
#include <zev/util.h>

#include <fsroot/fsroot.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// Whole milliseconds since start, never more than have really passed: the
// nanoseconds are added up before dividing, so a negative nanosecond
// difference cannot round the count up.
int64_t elapsed_ms(const timespec &start)
{
	timespec now;
	clock_gettime(CLOCK_MONOTONIC, &now);
	int64_t ns = (static_cast<int64_t>(now.tv_sec) - start.tv_sec) * 1000000000 + (now.tv_nsec - start.tv_nsec);
	return ns / 1000000;
}

// Removes one pair of matching quotes around a value of two or more characters.
void unquote(char *value)
{
	size_t len = std::strlen(value);
	if (len >= 2 && (value[0] == '"' || value[0] == '\'') && value[len - 1] == value[0]) {
		std::memmove(value, value + 1, len - 2);
		value[len - 2] = '\0';
	}
}

} // namespace

extern "C" {

int zev_util_retry_timeout(int64_t limit_ms, zev_util_cond_cb cond, void *user)
{
	timespec start;
	clock_gettime(CLOCK_MONOTONIC, &start);
	int64_t elapsed = 0;
	bool done = false;
	while (elapsed < limit_ms && !done) {
		done = cond(user, limit_ms - elapsed);
		elapsed = elapsed_ms(start);
	}
	return done ? 0 : -1;
}

int zev_util_keyval_read(const char *path, zev_util_keyval_cb cb, void *user)
{
	FILE *f = std::fopen(wlc::root_path(path).c_str(), "re");
	if (!f)
		return -1;
	char line[256];
	while (std::fgets(line, sizeof(line), f)) {
		char *eq = std::strchr(line, '=');
		if (!eq)
			continue;
		*eq = '\0';
		char *value = eq + 1;
		value[std::strcspn(value, "\n")] = '\0';
		unquote(value);
		cb(line, value, user);
	}
	std::fclose(f);
	return 0;
}

} // extern "C"
