// The CPU sampler.
#include "cpu_sampler.h"

#include <fsroot/fsroot.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "text.h"

namespace vigil {

namespace {

double element_value(const void *element)
{
	double v;
	std::memcpy(&v, element, sizeof(v));
	return v;
}

void visit_average(void *element, void *user)
{
	zev_ring_avg_cb(element, static_cast<zev_ring_avg_ctx *>(user));
}

} // namespace

std::optional<CpuJiffies> read_cpu_jiffies(const char *path)
{
	FILE *f = std::fopen(wlc::root_path(path).c_str(), "re");
	if (!f)
		return std::nullopt;
	std::optional<CpuJiffies> out = read_cpu_jiffies(f);
	std::fclose(f);
	return out;
}

std::optional<CpuJiffies> read_cpu_jiffies(FILE *f)
{
	std::optional<CpuJiffies> out;
	std::string line;
	// Every line is looked at once: lines that are not the summary are passed over.
	while (!out && read_line(f, line)) {
		// The summary line only: "cpu0 ..." would also fit the pattern.
		if (line.size() < 4 || line.compare(0, 3, "cpu") != 0 || (line[3] != ' ' && line[3] != '\t'))
			continue;
		uint64_t v[8];
		if (std::sscanf(line.c_str(), "cpu %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64
				" %" SCNu64 " %" SCNu64, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]) != 8)
			continue;
		CpuJiffies j;
		j.busy = v[0] + v[1] + v[2] + v[4] + v[5] + v[6] + v[7];
		j.total = j.busy + v[3];
		out = j;
	}
	return out;
}

CpuSampler::CpuSampler() : timer_([this] { tick(); })
{
	uint64_t size = zev_ring_memsize(sizeof(double), kCapacity);
	auto *mem = static_cast<zev_ring *>(std::malloc(size));
	if (mem && zev_ring_init(mem, sizeof(double), kCapacity))
		ring_.reset(mem);
	else
		std::free(mem);
}

void CpuSampler::tick()
{
	timer_.cancel();
	sample();
	timer_.set(kPeriodSeconds * 1000);
}

void CpuSampler::sample()
{
	std::optional<CpuJiffies> now = read_cpu_jiffies("/proc/stat");
	if (!now)
		return;
	double d_busy = static_cast<double>(now->busy - prev_busy_);
	double d_total = static_cast<double>(now->total - prev_total_);
	// No growth at all counts as fully busy: the counters did not move.
	double fraction = d_busy < d_total ? d_busy / d_total : 1.0;
	if (ring_)
		zev_ring_enq_f(ring_.get(), &fraction, nullptr);
	prev_busy_ = now->busy;
	prev_total_ = now->total;
}

uint32_t CpuSampler::percentage(uint64_t newest) const
{
	if (!ring_)
		return 0;
	zev_ring_avg_ctx ctx = {element_value, 0.0};
	uint64_t visited = zev_ring_iter_r(ring_.get(), newest, visit_average, &ctx);
	if (visited == 0)
		return 0; // no sample yet: no average to convert
	double pct = ctx.sum / static_cast<double>(visited) * 100.0;
	if (!(pct >= 0.0))
		return 0;
	return pct >= 100.0 ? 100u : static_cast<uint32_t>(pct);
}

std::array<uint32_t, 3> CpuSampler::percentages() const
{
	return {percentage(1), percentage(12), percentage(60)};
}

} // namespace vigil
