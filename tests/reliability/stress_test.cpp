// Many threads, several devices, faults injected at random into single calls,
// a device that comes and goes, latency on the transfers. Every result must be
// what the device and the injected fault predict, and nothing may leak.
#include <atomic>
#include <iostream>
#include <mutex>
#include <random>
#include <thread>

#include "fault_oracle.h"
#include "protocol/exchange.h"

using namespace ZorekSim;

namespace {

constexpr int Threads = 16;
constexpr int CallsEach = 2000;
constexpr int StableDevices = 3;  // indices 0 to 2; index 3 comes and goes

OpenResources& operator+=(OpenResources& a, const OpenResources& b) {
    a.sets += b.sets;
    a.files += b.files;
    a.interfaces += b.interfaces;
    a.heapBlocks += b.heapBlocks;
    return a;
}

}  // namespace

TEST(Stress, MixedCallsWithRandomFaults) {
    // What each function's successful call looks like, and how it can fail.
    struct Plan {
        DeviceFunction function;
        std::vector<Injection> injections;
        std::vector<std::int32_t> success;
    };
    std::vector<Plan> plans;
    // Every device already holds the main value that SetMainValue sends, so
    // the calls of other threads change nothing that a call reads.
    ZorekInstrument::State state;
    state.mainValue = 1234;
    state.setFlag = 1;
    for (const auto& f : DeviceFunctions())
        plans.push_back({f, Injections(RecordSuccessfulCall(f)), SuccessOutputs(f, state)});

    Reset();
    SetRecording(false);
    SetTimeoutScale(0.002);
    for (int i = 0; i < StableDevices; ++i) {
        Device d;
        d.state = state;
        d.latency = std::chrono::microseconds(i == 1 ? 5 : 0);
        AddDevice(d);
    }
    Device roamer;
    roamer.state = state;
    const int roaming = AddDevice(roamer);

    std::atomic<bool> stop{false};
    std::thread plugger([&] {
        for (bool present = false; !stop; present = !present) {
            SetPresent(roaming, present);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });

    std::mutex mutex;
    OpenResources expectedLeft;
    std::vector<std::string> wrong;
    std::atomic<std::size_t> injected{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(1234 + t);
            OpenResources left;
            for (int i = 0; i < CallsEach; ++i) {
                const Plan& plan = plans[random() % plans.size()];
                const int index = static_cast<int>(random() % (StableDevices + 1));
                const Injection* injection = nullptr;
                if (index < StableDevices && random() % 3 == 0) {
                    injection = &plan.injections[random() % plan.injections.size()];
                    Fault fault = injection->fault;
                    fault.thread = std::this_thread::get_id();
                    InjectFault(fault);
                    ++injected;
                }
                Outcome outcome = Invoke(plan.function, index);
                std::string problem;
                if (index == roaming) {
                    // Present, absent, or gone in the middle of the call.
                    bool fine = outcome.result == 1
                                    ? outcome.status == 0 && outcome.outputs == plan.success
                                    : (outcome.status == 0 || outcome.status == 1 || outcome.status == 5 ||
                                       outcome.status == 6 || outcome.status == 8);
                    if (!fine)
                        problem = "roaming device: result " + std::to_string(outcome.result) + " status " +
                                  std::to_string(outcome.status);
                } else {
                    Expected e = injection != nullptr ? injection->expected : Expected{1, 0, true, {}};
                    auto untouched = UntouchedOutputs(plan.function);
                    if (outcome.result != e.result || outcome.status != e.status ||
                        outcome.outputs != (e.outputsWritten ? plan.success : untouched))
                        problem = (injection != nullptr ? injection->description : "no fault") + ": result " +
                                  std::to_string(outcome.result) + " status " + std::to_string(outcome.status);
                    left += e.left;
                }
                if (injection != nullptr)
                    ClearFaults(std::this_thread::get_id());  // drop it if the call never reached it
                if (!problem.empty()) {
                    std::lock_guard lock(mutex);
                    wrong.push_back(plan.function.name + " at " + std::to_string(index) + ": " + problem);
                }
            }
            std::lock_guard lock(mutex);
            expectedLeft += left;
        });
    }
    for (auto& thread : threads) thread.join();
    stop = true;
    plugger.join();

    std::cout << "stress: " << Threads * CallsEach << " calls, " << injected << " with a fault\n";
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " wrong results, first: " << wrong.front();
    EXPECT_EQ(InterleaveViolations(), 0u);
    EXPECT_FALSE(ZorekInterface::TRB.load());
    EXPECT_EQ(Open(), expectedLeft);
    Reset();
}
