// The switch's MAC address table, dumped through its search state machine.
#include <libkite/libkite.h>

#include <algorithm>
#include <cerrno>
#include <time.h>

#include "backend.h"
#include "guard.h"

namespace {

constexpr int kControl = 0x80;      // address table control and status
constexpr int kResult1 = 0x8C;      // age timer, port map, entry state
constexpr int kResult2 = 0x84;      // MAC bytes 0-3
constexpr int kResult3 = 0x88;      // MAC bytes 4-5, filter bits, VLAN id
constexpr uint32_t kSearchStart = 0x8004;
constexpr uint32_t kSearchNext = 0x8005;
constexpr uint32_t kBusy = 1u << 15;
constexpr uint32_t kSearchEnd = 1u << 14;
constexpr uint32_t kFound = 1u << 13;
constexpr uint32_t kLastAddress = 0x7FF;
constexpr int kMaxSteps = 2048;
constexpr int kBusyPolls = 10;
constexpr uint8_t kCallerFlags = 0x38; // flag bits 3-5 stay the caller's

void pause_1us()
{
	timespec ts = {0, 1000};
	nanosleep(&ts, nullptr);
}

bool read(kite::Backend &b, int reg, uint32_t &v)
{
	return b.switch_read(b, reg, &v) == 0;
}

bool write(kite::Backend &b, int reg, uint32_t v)
{
	return b.switch_write(b, reg, v) == 0;
}

// The status once the search is no longer busy; false when it stays busy.
bool wait_ready(kite::Backend &b, uint32_t &status)
{
	for (int i = 0; i < kBusyPolls; i++) {
		if (i)
			pause_1us();
		if (read(b, kControl, status) && !(status & kBusy))
			return true;
	}
	return false;
}

uint16_t age_of(uint32_t r1)
{
	uint32_t timer = r1 >> 24;
	if (timer >= 0xFF)
		return 0;
	int age = 298 - 2 * static_cast<int>(timer);
	return static_cast<uint16_t>(std::max(age, 0));
}

void decode(uint32_t r1, uint32_t r2, uint32_t r3, libkite_mac_entry &e)
{
	e.port_map = (r1 >> 4) & 0xFF;
	e.vid = static_cast<uint16_t>(r3 & 0xFFF);
	e.age = age_of(r1);
	for (int i = 0; i < 4; i++)
		e.mac[i] = static_cast<uint8_t>(r2 >> (24 - 8 * i));
	e.mac[4] = static_cast<uint8_t>(r3 >> 24);
	e.mac[5] = static_cast<uint8_t>(r3 >> 16);
	uint8_t flags = static_cast<uint8_t>((r3 >> 12) & 0x7);
	if (((r1 >> 20) & 0x3) == 0x3)
		flags |= 0x40;
	if (r1 & (1u << 23))
		flags |= 0x80;
	e.flags = static_cast<uint8_t>((e.flags & kCallerFlags) | flags);
}

// One search step into its slot: the slot is cleared first (but for the
// caller's flag bits) and filled when the step found an entry. False on a
// register failure or a search that stays busy.
bool step(kite::Backend &b, libkite_mac_entry &slot, uint32_t &status)
{
	slot = libkite_mac_entry{0, 0, 0, {}, static_cast<uint8_t>(slot.flags & kCallerFlags), 0};
	if (!wait_ready(b, status))
		return false;
	if (status & kFound) {
		uint32_t r1, r2, r3;
		if (!read(b, kResult1, r1) || !read(b, kResult2, r2) || !read(b, kResult3, r3))
			return false;
		decode(r1, r2, r3, slot);
	}
	return true;
}

int dump(kite::Backend &b, libkite_mac_entry *table, int &size)
{
	uint32_t ignored;
	for (int reg = 0x100; reg <= 0x11C; reg += 4)
		if (!read(b, reg, ignored))
			return -EAGAIN;
	if (!write(b, kControl, kSearchStart))
		return -EAGAIN;
	int steps = std::min(size, kMaxSteps);
	for (int i = 0; i < steps; i++) {
		uint32_t status;
		if (!step(b, table[i], status))
			return -EAGAIN;
		if ((status & kSearchEnd) && ((status >> 16) & 0xFFF) == kLastAddress) {
			// The step that ends the search counts when it found an entry too.
			size = (status & kFound) ? i + 1 : i;
			return 0;
		}
		if (!write(b, kControl, kSearchNext))
			return -EAGAIN;
		pause_1us();
	}
	size = steps;
	return 0;
}

} // namespace

extern "C" int libkite_switch_get_mac_table(struct libkite_mac_entry *table, int *size)
{
	kite::Backend *b = kite::current();
	if (!b)
		return -ENODEV;
	if (!table || !size || *size < 0)
		return -EINVAL;
	return kite::guarded([&] { return dump(*b, table, *size); });
}
