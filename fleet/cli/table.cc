// Plain-text tables.
#include "table.h"

#include <algorithm>
#include <ctime>

namespace fleetctl {

std::string Table::render() const
{
	std::vector<size_t> width;
	for (const auto &row : rows_) {
		width.resize(std::max(width.size(), row.size()));
		for (size_t i = 0; i < row.size(); i++)
			width[i] = std::max(width[i], row[i].size());
	}
	std::string out;
	for (const auto &row : rows_) {
		std::string line;
		for (size_t i = 0; i < row.size(); i++) {
			line += row[i];
			if (i + 1 < row.size())
				line += std::string(width[i] - row[i].size() + 2, ' ');
		}
		out += line + "\n";
	}
	return out;
}

std::string utc_time(long long seconds)
{
	if (seconds <= 0)
		return "-";
	std::time_t t = static_cast<std::time_t>(seconds);
	std::tm tm = {};
	gmtime_r(&t, &tm);
	char buf[32];
	std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
	return buf;
}

} // namespace fleetctl
