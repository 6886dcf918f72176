// Collecting the health record.
#include "health.h"

#include <fsroot/fsroot.h>
#include <wlc/log.h>

#include <cinttypes>
#include <cstdio>
#include <optional>
#include <sys/statfs.h>
#include <sys/sysinfo.h>

namespace vigil {

namespace {

// Bytes available to unprivileged users on /data; 0 when it cannot be asked.
uint64_t storage_free()
{
	struct statfs st;
	if (statfs(wlc::root_path("/data").c_str(), &st) != 0)
		return 0;
	return static_cast<uint64_t>(st.f_bsize) * static_cast<uint64_t>(st.f_bavail);
}

// Size of the whole flash as the first MTD partition reports it; 0 when unknown.
uint64_t storage_total()
{
	FILE *f = std::fopen(wlc::root_path("/sys/class/mtd/mtd0/size").c_str(), "re");
	if (!f)
		return 0;
	uint64_t size = 0;
	if (std::fscanf(f, "%" SCNu64, &size) != 1)
		size = 0;
	std::fclose(f);
	return size;
}

std::optional<int> temperature()
{
	FILE *f = std::fopen(wlc::root_path("/sys/class/thermal/thermal_zone0/temp").c_str(), "re");
	if (!f)
		return std::nullopt;
	int t = 0;
	bool ok = std::fscanf(f, "%d", &t) == 1;
	std::fclose(f);
	return ok ? std::optional<int>(t) : std::nullopt;
}

} // namespace

bool collect_health(const CpuSampler &cpu, wlc::BlobBuf &reply)
{
	struct sysinfo info;
	if (sysinfo(&info) != 0)
		return false;
	std::optional<int> temp = temperature();
	if (!temp)
		return false;
	{
		auto list = reply.array("cpu");
		for (uint32_t pct : cpu.percentages())
			reply.add_u32(nullptr, pct);
	}
	reply.add_u64("storage_free", storage_free());
	reply.add_u64("storage_total", storage_total());
	reply.add_u64("ram_free", info.freeram);
	reply.add_u64("ram_total", info.totalram);
	reply.add_u32("temp", static_cast<uint32_t>(*temp));
	return true;
}

int health_method(const CpuSampler &cpu, wlc::Request &req)
{
	wlc::BlobBuf reply;
	if (!collect_health(cpu, reply)) {
		wlc::logf(LOG_DEBUG, "FAILED collecting health");
		return UBUS_STATUS_UNKNOWN_ERROR;
	}
	req.reply(reply);
	return UBUS_STATUS_OK;
}

} // namespace vigil
