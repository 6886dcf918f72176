// libkite's netlink request building and reply parsing against a plain copy
// of the same bytes, measured in the same run; prints the ratio.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "genl_msg.h"
#include "ratio_reporter.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint16_t kFamily = 0x1A;

template <typename T>
void put(Bytes &b, T v)
{
	uint8_t raw[sizeof(T)];
	std::memcpy(raw, &v, sizeof(T));
	b.insert(b.end(), raw, raw + sizeof(T));
}

// A register read's reply (register and value attributes) and its
// acknowledgement in one datagram, as the driver sends them.
Bytes reply_datagram(uint32_t seq)
{
	Bytes b;
	put<uint32_t>(b, 36);
	put<uint16_t>(b, kFamily);
	put<uint16_t>(b, 0);
	put<uint32_t>(b, seq);
	put<uint32_t>(b, 1234);
	b.insert(b.end(), {3, 0, 0, 0});
	for (auto [type, v] : {std::pair<uint16_t, uint32_t>{4, 0x80}, {5, 0x8004}}) {
		put<uint16_t>(b, 8);
		put<uint16_t>(b, type);
		put<uint32_t>(b, v);
	}
	put<uint32_t>(b, 36);
	put<uint16_t>(b, 2);
	put<uint16_t>(b, 0);
	put<uint32_t>(b, seq);
	put<uint32_t>(b, 1234);
	put<int32_t>(b, 0);
	b.resize(b.size() + 16, 0);
	return b;
}

void BM_RequestBuildAndReplyParse(benchmark::State &state)
{
	const Bytes reply = reply_datagram(7);
	const std::array<kite::genl::Attr32, 1> attrs = {{{kite::genl::kAttrReg, 0x80}}};
	uint32_t value = 0;
	kite::genl::OnMessage on_reply = [&value](uint16_t type, uint8_t, const uint8_t *a, size_t len) {
		kite::genl::AttrTable t;
		if (type == kFamily && kite::genl::parse_attrs(a, len, t))
			(void)kite::genl::attr_u32(t[kite::genl::kAttrVal], value);
	};
	for (auto _ : state) {
		Bytes req = kite::genl::build_request(kFamily, kite::genl::kCmdRead, 0, 7, 1234, attrs);
		benchmark::DoNotOptimize(req.data());
		kite::genl::Ended ended;
		kite::genl::walk(reply.data(), reply.size(), 7, on_reply, ended);
		benchmark::DoNotOptimize(value);
	}
	state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RequestBuildAndReplyParse);

// The same request and reply bytes, copied.
void BM_PlainCopy(benchmark::State &state)
{
	const std::array<kite::genl::Attr32, 1> attrs = {{{kite::genl::kAttrReg, 0x80}}};
	const Bytes request = kite::genl::build_request(kFamily, kite::genl::kCmdRead, 0, 7, 1234, attrs);
	const Bytes reply = reply_datagram(7);
	for (auto _ : state) {
		Bytes req(request.size());
		std::memcpy(req.data(), request.data(), request.size());
		benchmark::DoNotOptimize(req.data());
		uint8_t in[128];
		std::memcpy(in, reply.data(), reply.size());
		benchmark::DoNotOptimize(in);
		benchmark::ClobberMemory();
	}
	state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlainCopy);

} // namespace

int main(int argc, char **argv)
{
	benchmark::Initialize(&argc, argv);
	bench::RatioReporter reporter;
	benchmark::RunSpecifiedBenchmarks(&reporter);
	double parse = reporter.ns("BM_RequestBuildAndReplyParse"), copy = reporter.ns("BM_PlainCopy");
	if (parse > 0 && copy > 0)
		std::printf("build+parse / plain copy: %.1f ns / %.1f ns = %.2fx\n", parse, copy, parse / copy);
	benchmark::Shutdown();
	return 0;
}
