// Many threads calling GetTemperature on one simulated instrument whose
// transfers each block the calling thread for 100 us, as a synchronous USB
// transfer does. Reports exchanges per second against the serial ideal (one
// exchange at a time, two transfers each) and processor time per exchange.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

#include "interface/zorek.h"
#include "platform/sim/sim.h"

namespace {

constexpr auto Latency = std::chrono::microseconds(100);
constexpr int CallsPerThread = 40;
constexpr int ExchangesPerCall = 3;

// What one simulated transfer really takes: the sleep overshoots its request.
double TransferSeconds() {
    constexpr int n = 200;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) std::this_thread::sleep_for(Latency);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / n;
}

void Contention(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    const double transfer = TransferSeconds();
    ZorekSim::Reset();
    ZorekSim::SetRecording(false);
    ZorekSim::Device device;
    device.latency = Latency;
    ZorekSim::AddDevice(device);

    double exchanges = 0, wall = 0, cpu = 0;
    int failures = 0;
    for (auto _ : state) {
        std::vector<std::thread> pool;
        std::vector<int> failed(threads, 0);
        const std::clock_t cpuStart = std::clock();
        const auto start = std::chrono::steady_clock::now();
        for (int t = 0; t < threads; ++t) {
            pool.emplace_back([&failed, t] {
                std::int32_t flag, t1, t2, t3;
                for (int i = 0; i < CallsPerThread; ++i) failed[t] += GetTemperature(0, &flag, &t1, &t2, &t3) != 1;
            });
        }
        for (auto& thread : pool) thread.join();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        wall += seconds;
        cpu += static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        exchanges += double(threads) * CallsPerThread * ExchangesPerCall;
        for (int f : failed) failures += f;
    }
    if (failures != 0) state.SkipWithError("calls failed");
    const double rate = exchanges / wall;
    const double ideal = 1.0 / (2 * transfer);
    state.counters["exchanges_per_s"] = rate;
    state.counters["serial_ideal_per_s"] = ideal;
    state.counters["of_ideal"] = rate / ideal;
    state.counters["cpu_us_per_exchange"] = cpu / exchanges * 1e6;
}

BENCHMARK(Contention)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Arg(16)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
