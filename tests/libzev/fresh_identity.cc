// Each test of this program plays its own device, so each starts with the
// library's identity caches empty, as in a process of its own.
#include <gtest/gtest.h>

#include "devinfo_internal.h"

namespace {

class FreshIdentity : public ::testing::EmptyTestEventListener {
	void OnTestStart(const ::testing::TestInfo &) override { zev::devinfo::forget_cached(); }
};

const bool installed = [] {
	::testing::UnitTest::GetInstance()->listeners().Append(new FreshIdentity);
	return true;
}();

} // namespace
