// The simulator's configuration: the devices that a JSON file describes, read
// into the simulated platform's own types. Parsing keeps no state and throws
// nothing, so it can be fed any text.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/sim/sim.h"

namespace ZorekSimConfig {

struct DeviceConfig {
    // Hardware IDs, presence, instrument state, reply overrides and latency.
    ZorekSim::Device device;
    // Faults of this device; their device index is set when they are applied.
    std::vector<ZorekSim::Fault> faults;
    // How far the temperatures move around their configured values over time.
    std::uint16_t drift = 0;
};

struct Config {
    std::vector<DeviceConfig> devices;
};

struct Error {
    std::string key;      // the offending value's place, "devices[0].state.temperatures[1]"; empty for the whole file
    std::string message;  // what is wrong with it
};

using Result = std::variant<Config, Error>;

// Largest file that Load reads.
inline constexpr std::uintmax_t MaxFileSize = 1 << 20;
inline constexpr std::size_t MaxDevices = 64;

// Parses a configuration text (JSON; comments allowed).
Result Parse(std::string_view text);
// Reads and parses a configuration file.
Result Load(const std::filesystem::path& file);
// "FILE: KEY: MESSAGE", or "FILE: MESSAGE" when no key is concerned.
std::string Describe(const std::filesystem::path& file, const Error& error);

}  // namespace ZorekSimConfig
