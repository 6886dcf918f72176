// Controller candidates of a search and the parsing of the addresses that
// the discovery sources hand over.
#pragma once

#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "../core/options.h"
#include "../mqtt/instance.h"

namespace mast {

constexpr int32_t kDefaultBrokerPort = 8883;

struct Candidate {
	std::string host; // at most 63 characters
	int32_t port = 0;
	std::unique_ptr<MqttInstance> probe; // this cycle's probe connection
	bool announced = false;              // the probe published ONLINE true
};

// Newest first; two candidates are the same when host (cut) and port are.
class CandidateList {
public:
	// A port of 0 or less becomes the default port. The candidate and
	// whether it is new; null when the host is empty or the port above 65535.
	std::pair<Candidate *, bool> add(std::string_view host, int32_t port);

	std::list<Candidate> &items() { return items_; }
	bool empty() const { return items_.empty(); }
	std::vector<BrokerAddress> addresses() const;

private:
	std::list<Candidate> items_;
};

// Puts the controller that answered at the front of the broker list: a
// known one (same host, and the same port or the default one) is moved
// there, never added again, so the list stays as long as it was however
// often the search runs.
void remember_broker(std::vector<BrokerAddress> &brokers, const BrokerAddress &addr);

// "host" or "host:port" (decimal 0-65535; 0 when there is no colon); nullopt
// for an empty host or a port that is not such a number.
std::optional<BrokerAddress> parse_host_port(std::string_view token);

// The tokens of a DHCP option line, split at space, comma and semicolon
// (tabs and line ends count as spaces).
std::vector<std::string> split_address_tokens(std::string_view line);

// True for a dotted-quad IPv4 address and nothing else.
bool is_ipv4_address(const std::string &text);

} // namespace mast
