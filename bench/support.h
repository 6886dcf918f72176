// What the benchmark programs share: starting programs, a private network
// namespace, and a bus echo service as the baseline of bus round trips.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

// Starts argv (found through PATH) with env added to the environment.
pid_t spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env = {});
// Moves this process into a network namespace of its own with lo up.
bool private_network();
// Serves the object "bench" with a method "echo" answering its message, on the
// bus at socket; runs in a child process until killed.
[[noreturn]] void run_echo_service(const std::string &socket);

} // namespace bench
