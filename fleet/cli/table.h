// Plain-text tables for the operator's tool: columns as wide as their
// widest cell, separated by two spaces.
#pragma once

#include <string>
#include <vector>

namespace fleetctl {

class Table {
public:
	explicit Table(std::vector<std::string> header) : rows_{std::move(header)} {}
	void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
	[[nodiscard]] std::string render() const;

private:
	std::vector<std::vector<std::string>> rows_;
};

// Seconds since the epoch as "YYYY-MM-DD HH:MM:SS" (UTC); "-" for 0.
std::string utc_time(long long seconds);

} // namespace fleetctl
