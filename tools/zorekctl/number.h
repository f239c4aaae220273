// The 32-bit arguments of the command line: MODE, CONTRAST, VALUE and --index.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ZorekCtl {

// A whole number that fits 32 bits: decimal from -2147483648 to 4294967295,
// or hex from 0x0 to 0xFFFFFFFF; above 2147483647 it stands for its 32-bit
// pattern (4294967295 is -1). Nothing else: no sign on hex, no octal, no
// spaces.
std::optional<std::int32_t> ParseInt32(std::string_view text);

// CLI11 check of such an argument; it rewrites the text in plain decimal.
CLI::Validator Int32Argument();

}  // namespace ZorekCtl
