// Keys and values in the notation of .reg files.
#ifndef SAMBREL_CLI_REG_TEXT_H
#define SAMBREL_CLI_REG_TEXT_H

#include "registry.h"

#include <string>

namespace cli {

// One value as a .reg line: "Name"=... (without line folding).
std::string RegValueLine(const sim::RegValue &value);
// A key's section: its header and its values, in the registry's order.
std::string RegKeySection(const std::string &path, const sim::RegKey &key);

} // namespace cli

#endif
