// Candidate list and address parsing.
#include "candidates.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>

namespace mast {

namespace {

constexpr size_t kHostLimit = 63;

} // namespace

std::pair<Candidate *, bool> CandidateList::add(std::string_view host, int32_t port)
{
	if (host.empty() || port > 65535)
		return {nullptr, false};
	if (port <= 0)
		port = kDefaultBrokerPort;
	std::string h(host.substr(0, kHostLimit));
	auto it = std::find_if(items_.begin(), items_.end(),
			       [&](const Candidate &c) { return c.port == port && c.host == h; });
	if (it != items_.end())
		return {&*it, false};
	items_.push_front(Candidate{h, port, nullptr, false});
	return {&items_.front(), true};
}

std::vector<BrokerAddress> CandidateList::addresses() const
{
	std::vector<BrokerAddress> out;
	for (const Candidate &c : items_)
		out.push_back({c.host, c.port});
	return out;
}

void remember_broker(std::vector<BrokerAddress> &brokers, const BrokerAddress &addr)
{
	std::erase_if(brokers, [&](const BrokerAddress &b) {
		return b.host == addr.host && (b.port == addr.port || (b.port <= 0 && addr.port == kDefaultBrokerPort));
	});
	brokers.insert(brokers.begin(), addr);
}

std::optional<BrokerAddress> parse_host_port(std::string_view token)
{
	size_t colon = token.find(':');
	BrokerAddress addr;
	addr.host = std::string(token.substr(0, colon));
	if (addr.host.empty())
		return std::nullopt;
	if (colon == std::string_view::npos)
		return addr;
	std::string_view digits = token.substr(colon + 1);
	int32_t port = 0;
	auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
	if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || port < 0 || port > 65535)
		return std::nullopt;
	addr.port = port;
	return addr;
}

std::vector<std::string> split_address_tokens(std::string_view line)
{
	std::vector<std::string> tokens;
	size_t pos = 0;
	while (pos < line.size()) {
		size_t end = line.find_first_of(" ,;\t\r\n", pos);
		if (end == std::string_view::npos)
			end = line.size();
		if (end > pos)
			tokens.emplace_back(line.substr(pos, end - pos));
		pos = end + 1;
	}
	return tokens;
}

bool is_ipv4_address(const std::string &text)
{
	in_addr a;
	return inet_pton(AF_INET, text.c_str(), &a) == 1;
}

} // namespace mast
