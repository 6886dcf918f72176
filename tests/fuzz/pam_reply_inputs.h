// The PAM module's reading of the session service's "login" reply: the
// reply's data attribute as the bus library hands it over.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wlcfuzz {

void pam_reply_one_input(const uint8_t *data, size_t size);

} // namespace wlcfuzz
