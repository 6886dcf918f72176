// The test program's replacement of the global operator new and delete.
#include "fail_allocation.h"

#include <cstdlib>
#include <new>

namespace wlctest {

std::atomic<size_t> fail_allocation_of{0};

} // namespace wlctest

void *operator new(size_t n)
{
	size_t want = n;
	if (n != 0 && wlctest::fail_allocation_of.compare_exchange_strong(want, 0))
		throw std::bad_alloc();
	if (void *p = std::malloc(n ? n : 1))
		return p;
	throw std::bad_alloc();
}

void operator delete(void *p) noexcept
{
	std::free(p);
}

void operator delete(void *p, size_t) noexcept
{
	std::free(p);
}

// Every other form is replaced too, so that no memory of one allocator is
// returned to another (sanitizers check that each pair matches).
void *operator new[](size_t n)
{
	return operator new(n);
}

void *operator new(size_t n, const std::nothrow_t &) noexcept
{
	return std::malloc(n ? n : 1);
}

void *operator new[](size_t n, const std::nothrow_t &) noexcept
{
	return std::malloc(n ? n : 1);
}

void operator delete[](void *p) noexcept
{
	std::free(p);
}

void operator delete[](void *p, size_t) noexcept
{
	std::free(p);
}

void operator delete(void *p, const std::nothrow_t &) noexcept
{
	std::free(p);
}

void operator delete[](void *p, const std::nothrow_t &) noexcept
{
	std::free(p);
}
