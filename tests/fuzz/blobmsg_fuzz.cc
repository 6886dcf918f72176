// libFuzzer entry point over the blob and blobmsg readers (clang builds with
// -DWLC_FUZZ=ON); its finds go into tests/data/fuzz/blobmsg/ and are
// replayed by the mutation test.
#include "blobmsg_inputs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	wlcfuzz::blobmsg_one_input(data, size);
	return 0;
}
