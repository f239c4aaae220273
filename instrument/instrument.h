// The instrument's side of the wire: what the device's firmware does with each
// 64-byte request. Hosts never link this; the simulated platforms use it to
// play the device.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace ZorekInstrument {

using Packet = std::array<std::uint8_t, 64>;

// Command bytes the firmware answers; each reply code is the command byte + 1.
inline constexpr std::uint8_t DeviceInfoCommand = 0x20;
inline constexpr std::uint8_t DeviceParamCommand = 0x24;
inline constexpr std::uint8_t SetMainValueCommand = 0xD0;
inline constexpr std::uint8_t WriteValueCommand = 0xD2;
inline constexpr std::uint8_t StatusCommand = 0xD6;
inline constexpr std::uint8_t MenuCommand = 0xD8;
inline constexpr std::uint8_t DisplayCommand = 0xDA;

struct State {
    // Identification.
    std::uint8_t deviceCode = 0x94;
    std::uint16_t firmwareVersion = 0x0107;
    std::uint8_t nameCode = 0x01;
    std::uint8_t byte5 = 0x94;
    std::uint8_t typeCode = 0x02;
    std::uint32_t deviceId = 0x00012345;
    std::uint32_t deviceNumStart = 0;
    std::uint32_t deviceTimeAtConnect = 0;
    // Operation.
    std::int32_t mainValue = 0;
    std::uint8_t protectState = 0;
    std::uint8_t setFlag = 0;
    std::array<std::uint16_t, 3> temperatures = {2150, 2200, 2375};
    std::uint8_t externalInput = 0;
    std::uint8_t powerMode = 0;
    std::uint8_t displaySelect = 0;
    std::uint8_t contrast = 0;
};

// The firmware's answer to one request, updating the state for the set
// requests; no reply for a command the firmware does not know.
std::optional<Packet> Answer(State& state, const Packet& request);

}  // namespace ZorekInstrument
