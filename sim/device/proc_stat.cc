// The simulated CPU counters.
#include "proc_stat.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace sim {

void CpuClock::advance(int seconds)
{
	for (Times &t : cpu_) {
		uint64_t ticks = static_cast<uint64_t>(seconds) * kHz;
		uint64_t busy = ticks * static_cast<uint64_t>(load_) / 100;
		// Busy time spread the way a loaded AP spends it; iowait counts as busy too.
		uint64_t system = busy * 3 / 10, iowait = busy / 10;
		t.system += system;
		t.iowait += iowait;
		t.user += busy - system - iowait;
		t.idle += ticks - busy;
	}
}

std::string CpuClock::line(const char *name, const Times &t)
{
	char buf[256];
	std::snprintf(buf, sizeof(buf), "%s %llu %llu %llu %llu %llu %llu %llu %llu 0 0\n", name,
		      static_cast<unsigned long long>(t.user), static_cast<unsigned long long>(t.nice),
		      static_cast<unsigned long long>(t.system), static_cast<unsigned long long>(t.idle),
		      static_cast<unsigned long long>(t.iowait), static_cast<unsigned long long>(t.irq),
		      static_cast<unsigned long long>(t.softirq), static_cast<unsigned long long>(t.steal));
	return buf;
}

std::string CpuClock::text() const
{
	Times sum;
	for (const Times &t : cpu_) {
		sum.user += t.user, sum.nice += t.nice, sum.system += t.system, sum.idle += t.idle;
		sum.iowait += t.iowait, sum.irq += t.irq, sum.softirq += t.softirq, sum.steal += t.steal;
	}
	std::string out = line("cpu ", sum);
	for (int i = 0; i < kCpus; i++)
		out += line(("cpu" + std::to_string(i)).c_str(), cpu_[i]);
	return out + "intr 123456 0 0 0\nctxt 234567\nbtime 1765000000\nprocesses 4321\nprocs_running 1\n"
		     "procs_blocked 0\nsoftirq 34567 0 0 0 0 0 0 0 0 0 0\n";
}

bool CpuClock::write(const std::string &root) const
{
	std::string path = root + "/proc/stat";
	std::string temp = path + ".new";
	std::filesystem::create_directories(root + "/proc");
	{
		std::ofstream out(temp, std::ios::trunc);
		out << text();
		if (!out)
			return false;
	}
	return std::rename(temp.c_str(), path.c_str()) == 0;
}

} // namespace sim
