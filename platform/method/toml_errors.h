// The TOML parser's description of a syntax error in the words of the
// method file's other problems: "not valid TOML in a [table] header:
// expected ']', found the end of the line". Method files and the host's
// sample lists are read with the same parser and describe their syntax
// errors alike. A pure function; any thread.
#pragma once

#include <string>

std::string PlainParseError(std::string description);
