// The console reporter that keeps the runs' times.
#include "ratio_reporter.h"

namespace bench {

namespace {

double unit_ns(benchmark::TimeUnit u)
{
	switch (u) {
	case benchmark::kSecond:
		return 1e9;
	case benchmark::kMillisecond:
		return 1e6;
	case benchmark::kMicrosecond:
		return 1e3;
	default:
		return 1;
	}
}

} // namespace

void RatioReporter::ReportRuns(const std::vector<Run> &runs)
{
	ConsoleReporter::ReportRuns(runs);
	for (const Run &r : runs) {
		real_ns_[r.benchmark_name()] = r.GetAdjustedRealTime() * unit_ns(r.time_unit);
		cpu_ns_[r.benchmark_name()] = r.GetAdjustedCPUTime() * unit_ns(r.time_unit);
	}
}

double RatioReporter::find(const std::map<std::string, double> &times, const std::string &name)
{
	for (const std::string &key : {name + "_mean", name})
		if (auto it = times.find(key); it != times.end())
			return it->second;
	for (const auto &[run, t] : times)
		if (run.rfind(name + "/iterations:", 0) == 0)
			return t;
	return 0;
}

} // namespace bench
