// libFuzzer entry point over libkite's netlink reply readers (clang builds
// with -DWLC_FUZZ=ON); its finds go into tests/data/fuzz/genl/ and are
// replayed by the mutation test.
#include "genl_inputs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	wlcfuzz::genl_one_input(data, size);
	return 0;
}
