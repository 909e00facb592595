// The commands: one row each, and its handler.
#pragma once

#include <span>

#include "dispatch.hpp"

namespace corvane::userdb {

// In the order the usage text lists them; the commands it leaves out, last.
extern const std::span<const command_entry> command_table;

}  // namespace corvane::userdb
