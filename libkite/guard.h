// Exported functions are C: nothing thrown inside crosses them.
#pragma once

#include <cerrno>
#include <new>

namespace kite {

template <typename F>
int guarded(F &&f) noexcept
{
	try {
		return f();
	} catch (const std::bad_alloc &) {
		return -ENOMEM;
	} catch (...) {
		return -EIO;
	}
}

} // namespace kite
