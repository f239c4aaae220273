// Time per call of each exported function on the simulated platform with no
// latency, against the floor: the same platform calls made without the library.
#include <benchmark/benchmark.h>

#include <functional>

#include "floor.h"
#include "interface/zorek.h"
#include "platform/sim/sim.h"

namespace {

struct Function {
    const char* name;
    std::function<std::int32_t()> call;
    std::vector<std::uint8_t> commands;
};

std::int32_t flag, a, b, c;

const std::vector<Function> functions = {
    {"GetDeviceID", [] { return GetDeviceID(0, &flag, &a); }, {0x20, 0x24}},
    {"GetWriteValue", [] { return GetWriteValue(0, &flag, &a, &b, &c); }, {0x20, 0x24, 0xD2}},
    {"GetTemperature", [] { return GetTemperature(0, &flag, &a, &b, &c); }, {0x20, 0x24, 0xD6}},
    {"GetExternalInput", [] { return GetExternalInput(0, &flag, &a); }, {0x20, 0x24, 0xD6}},
    {"DevicePWR", [] { return DevicePWR(0, &flag, 1); }, {0x20, 0x24, 0xD8}},
    {"SetDisplay", [] { return SetDisplay(0, &flag, 40); }, {0x20, 0x24, 0xDA}},
    {"SetMainValue", [] { return SetMainValue(0, &flag, 1, 1, &a); }, {0x20, 0x24, 0xD0}},
};

void Prepare() {
    ZorekSim::Reset();
    ZorekSim::AddDevice();
}

// The floor is honest only while it makes exactly the library's calls.
bool FloorMatches(const Function& f) {
    Prepare();
    f.call();
    auto library = ZorekSim::CallSequence();
    Prepare();
    ZorekBench::Floor(f.commands);
    return ZorekSim::CallSequence() == library;
}

void Call(benchmark::State& state, const Function& f) {
    Prepare();
    ZorekSim::SetRecording(false);
    for (auto _ : state) benchmark::DoNotOptimize(f.call());
    if (flag != 0) state.SkipWithError("the call failed");
}

void FloorOf(benchmark::State& state, const Function& f) {
    if (!FloorMatches(f)) {
        state.SkipWithError("the floor makes other platform calls than the library");
        return;
    }
    Prepare();
    ZorekSim::SetRecording(false);
    for (auto _ : state) ZorekBench::Floor(f.commands);
}

const bool registered = [] {
    for (const auto& f : functions) {
        benchmark::RegisterBenchmark((std::string("Call/") + f.name).c_str(), Call, f);
        benchmark::RegisterBenchmark((std::string("Floor/") + f.name).c_str(), FloorOf, f);
    }
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
