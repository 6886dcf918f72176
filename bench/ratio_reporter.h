// The console reporter of the benchmark programs, keeping each run's times
// so that a program can print its ratios against its baselines at the end.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace bench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
	void ReportRuns(const std::vector<Run> &runs) override;

	// Nanoseconds per iteration of the run of that name, 0 when it did not
	// run: the mean of the repetitions when there were several, and a name
	// given without the run's settings ("/iterations:...") finds them too.
	[[nodiscard]] double ns(const std::string &name) const { return find(real_ns_, name); }
	// The benchmark thread's CPU time, in the same way.
	[[nodiscard]] double cpu_ns(const std::string &name) const { return find(cpu_ns_, name); }

private:
	static double find(const std::map<std::string, double> &times, const std::string &name);

	std::map<std::string, double> real_ns_, cpu_ns_;
};

} // namespace bench
