// The platform calls of one device call, made directly: what a call costs
// without the library.
#pragma once

#include <cstdint>
#include <vector>

namespace ZorekBench {

// Makes the platform calls a successful device call on index 0 makes, with
// the same arguments and in the same order, sending these commands.
void Floor(const std::vector<std::uint8_t>& commands);

}  // namespace ZorekBench
