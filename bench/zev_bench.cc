// Station-table and event-datagram parse rates, each against a plain copy of
// the same bytes in the same run.
#include <zev/wifi.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "wifi_internal.h"

namespace {

std::vector<uint8_t> full_table()
{
	std::vector<uint8_t> t(zev::wifi::kStationTable, 0);
	t[0] = 0x20;
	t[1] = 0x02; // 544 entries
	for (size_t i = 0; i < zev::wifi::kMaxStations; i++) {
		uint8_t *e = t.data() + 8 + i * zev::wifi::kStationEntry;
		e[1] = 0xaa;
		e[6] = static_cast<uint8_t>(i);
		e[12] = static_cast<uint8_t>(-50);
		e[20] = 0x95;
		e[21] = 0x82;
		std::memcpy(e + 80, "station", 7);
	}
	return t;
}

void BM_StationTableParse(benchmark::State &state)
{
	auto table = full_table();
	for (auto _ : state) {
		zev_wifi_sta_list *list = zev::wifi::parse_station_table(table.data(), table.size());
		benchmark::DoNotOptimize(list);
		std::free(list);
	}
	state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(zev::wifi::kMaxStations));
}
BENCHMARK(BM_StationTableParse);

void BM_StationTableMemcpy(benchmark::State &state)
{
	auto table = full_table();
	std::vector<uint8_t> copy(table.size());
	for (auto _ : state) {
		std::memcpy(copy.data(), table.data(), table.size());
		benchmark::ClobberMemory();
	}
	state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(zev::wifi::kMaxStations));
}
BENCHMARK(BM_StationTableMemcpy);

// A station-leave event datagram (no name lookup is needed without a leave handler).
std::vector<uint8_t> leave_datagram()
{
	std::vector<uint8_t> payload(96, 0);
	payload[1] = 9;
	size_t ev = 16 + payload.size(), attr = 4 + ev, len = 32 + ((attr + 3) & ~size_t(3));
	std::vector<uint8_t> m(len, 0);
	m[0] = static_cast<uint8_t>(len);
	m[4] = 16;
	m[32] = static_cast<uint8_t>(attr);
	m[34] = 11;
	m[36] = static_cast<uint8_t>(ev);
	m[38] = 0x02;
	m[39] = 0x8C;
	m[44] = static_cast<uint8_t>(payload.size());
	m[46] = 0x47;
	m[47] = 0x06;
	std::memcpy(m.data() + 52, payload.data(), payload.size());
	return m;
}

void BM_EventDatagramProcess(benchmark::State &state)
{
	int sv[2];
	socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv);
	auto dgram = leave_datagram();
	zev_wifi_event_cb cb = {};
	for (auto _ : state) {
		send(sv[1], dgram.data(), dgram.size(), 0);
		benchmark::DoNotOptimize(zev_wifi_event_process(sv[0], &cb));
	}
	state.SetItemsProcessed(state.iterations());
	close(sv[0]);
	close(sv[1]);
}
BENCHMARK(BM_EventDatagramProcess);

void BM_EventDatagramRecvMemcpy(benchmark::State &state)
{
	int sv[2];
	socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv);
	auto dgram = leave_datagram();
	uint8_t buf[2048], copy[2048];
	for (auto _ : state) {
		send(sv[1], dgram.data(), dgram.size(), 0);
		ssize_t n = recv(sv[0], buf, sizeof(buf), MSG_DONTWAIT);
		std::memcpy(copy, buf, static_cast<size_t>(n));
		benchmark::ClobberMemory();
	}
	state.SetItemsProcessed(state.iterations());
	close(sv[0]);
	close(sv[1]);
}
BENCHMARK(BM_EventDatagramRecvMemcpy);

} // namespace

BENCHMARK_MAIN();
