#include "simulator/setup.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>

namespace ZorekSimulator {

ZorekSimConfig::Config Builtin() {
    ZorekSimConfig::DeviceConfig device;
    device.drift = 40;
    return {{device}};
}

std::array<std::uint16_t, 3> Drifted(const std::array<std::uint16_t, 3>& base, std::uint16_t amplitude,
                                     double seconds) {
    constexpr double periods[] = {41.0, 53.0, 67.0};
    std::array<std::uint16_t, 3> now{};
    for (std::size_t i = 0; i < 3; ++i) {
        double phase = 2 * std::numbers::pi * std::fmod(seconds, periods[i]) / periods[i];
        double value = base[i] + amplitude * std::sin(phase + static_cast<double>(i));
        now[i] = static_cast<std::uint16_t>(std::clamp(std::lround(value), 0L, 65535L));
    }
    return now;
}

void Apply(const ZorekSimConfig::Config& config) {
    for (const auto& entry : config.devices) {
        ZorekSim::Device device = entry.device;
        if (entry.drift != 0) {
            device.beforeAnswer = [base = device.state.temperatures,
                                   amplitude = entry.drift](ZorekInstrument::State& state) {
                auto since = std::chrono::system_clock::now().time_since_epoch();
                state.temperatures = Drifted(base, amplitude, std::chrono::duration<double>(since).count());
            };
        }
        int index = ZorekSim::AddDevice(std::move(device));
        for (ZorekSim::Fault fault : entry.faults) {
            fault.device = index;
            ZorekSim::InjectFault(fault);
        }
    }
}

}  // namespace ZorekSimulator
