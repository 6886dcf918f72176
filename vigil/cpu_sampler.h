// Background CPU sampler: every period it turns the growth of /proc/stat's
// busy and total jiffies into a busy fraction and keeps the newest 60.
#pragma once

#include <wlc/loop.h>
#include <zev/ring.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

namespace vigil {

// The first "cpu " line of a /proc/stat text: its busy (everything but idle;
// iowait counts as busy) and total jiffies. nullopt when there is none.
struct CpuJiffies {
	uint64_t busy = 0;
	uint64_t total = 0;
};
[[nodiscard]] std::optional<CpuJiffies> read_cpu_jiffies(const char *path);
[[nodiscard]] std::optional<CpuJiffies> read_cpu_jiffies(FILE *f);

class CpuSampler {
public:
	static constexpr int kPeriodSeconds = 5;
	static constexpr uint64_t kCapacity = 60;

	CpuSampler();
	CpuSampler(const CpuSampler &) = delete;
	CpuSampler &operator=(const CpuSampler &) = delete;

	// Arms the first sample one period from now.
	void start() { timer_.set(kPeriodSeconds * 1000); }
	// Takes one sample now (what the timer does each period).
	void sample();
	// Busy percentages over the newest 1, 12 and 60 samples, truncated; 0 without samples.
	[[nodiscard]] std::array<uint32_t, 3> percentages() const;
	[[nodiscard]] uint64_t count() const { return ring_ ? zev_ring_count(ring_.get()) : 0; }

private:
	struct RingFree {
		void operator()(zev_ring *r) const noexcept { std::free(r); }
	};
	[[nodiscard]] uint32_t percentage(uint64_t newest) const;
	void tick();

	std::unique_ptr<zev_ring, RingFree> ring_;
	uint64_t prev_busy_ = 0;
	uint64_t prev_total_ = 0;
	wlc::Timer timer_;
};

} // namespace vigil
