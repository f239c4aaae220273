// Puts configured devices on the simulated platform, and the instrument that
// the simulator presents when no configuration is given.
#pragma once

#include <array>
#include <cstdint>

#include "simulator/config.h"

namespace ZorekSimulator {

// One instrument at index 0: firmware 263, which admits SetDisplay, the model's
// device identifier and temperatures that move a little over time.
ZorekSimConfig::Config Builtin();

// Adds the devices, with their faults and temperature movement, to the
// simulated platform after those it already has.
void Apply(const ZorekSimConfig::Config& config);

// The temperatures at a moment (seconds since any fixed origin): each moves
// smoothly within amplitude of its base value, with a period of its own, and
// stays within 0 to 65535.
std::array<std::uint16_t, 3> Drifted(const std::array<std::uint16_t, 3>& base, std::uint16_t amplitude, double seconds);

}  // namespace ZorekSimulator
