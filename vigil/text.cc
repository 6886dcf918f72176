// Line reading.
#include "text.h"

namespace vigil {

bool read_line(FILE *f, std::string &line)
{
	line.clear();
	int c;
	while ((c = std::fgetc(f)) != EOF && c != '\n')
		line.push_back(static_cast<char>(c));
	return c != EOF || !line.empty();
}

} // namespace vigil
