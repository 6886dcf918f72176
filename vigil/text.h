// Reading text files line by line, whatever the line length.
#pragma once

#include <cstdio>
#include <string>

namespace vigil {

// Reads one whole line (without its newline); false at end of file.
bool read_line(FILE *f, std::string &line);

} // namespace vigil
