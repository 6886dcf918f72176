// The simulated CPU: /proc/stat counters that advance with the time at a
// scripted load, as the kernel's do.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

class CpuClock {
public:
	static constexpr int kCpus = 2;
	static constexpr int kHz = 100; // jiffies per second per CPU

	explicit CpuClock(int load_percent = 10) { set_load(load_percent); }
	void set_load(int percent) { load_ = percent < 0 ? 0 : percent > 100 ? 100 : percent; }
	int load() const { return load_; }
	// Lets seconds of time pass at the current load.
	void advance(int seconds);
	// The /proc/stat text (summary line, per-CPU lines, the usual trailer).
	std::string text() const;
	// Writes it under root atomically (readers never see half a file).
	bool write(const std::string &root) const;

private:
	struct Times {
		uint64_t user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
	};
	static std::string line(const char *name, const Times &t);

	int load_ = 10;
	Times cpu_[kCpus] = {{1000, 10, 500, 80000, 40, 0, 30, 0}, {900, 5, 450, 81000, 20, 0, 25, 0}};
};

} // namespace sim
