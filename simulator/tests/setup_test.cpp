// The built-in instrument, the temperatures' movement, and configured devices
// put on the simulated platform.
#include "simulator/setup.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <thread>

#include "interface/zorek.h"

namespace {

class SimSetup : public ::testing::Test {
protected:
    void SetUp() override { ZorekSim::Reset(); }
    void TearDown() override { ZorekSim::Reset(); }
};

ZorekSimConfig::Config Parsed(std::string_view text) {
    auto result = ZorekSimConfig::Parse(text);
    EXPECT_TRUE(std::holds_alternative<ZorekSimConfig::Config>(result));
    return std::holds_alternative<ZorekSimConfig::Config>(result) ? std::get<ZorekSimConfig::Config>(result)
                                                                  : ZorekSimConfig::Config{};
}

}  // namespace

TEST_F(SimSetup, BuiltinInstrumentAnswersEveryFunction) {
    ZorekSimulator::Apply(ZorekSimulator::Builtin());
    std::int32_t flag = -1, id = 0, t1 = 0, t2 = 0, t3 = 0, v = 0, set = 0, protect = 0, input = -1;
    EXPECT_EQ(GetDeviceID(0, &flag, &id), 1);
    EXPECT_NE(id, 0);
    ASSERT_EQ(GetTemperature(0, &flag, &t1, &t2, &t3), 1);
    for (std::int32_t t : {t1, t2, t3}) {
        EXPECT_GE(t, 1500);
        EXPECT_LE(t, 3000);
    }
    EXPECT_EQ(SetDisplay(0, &flag, 40), 1);  // firmware above 262
    EXPECT_EQ(SetMainValue(0, &flag, 1234, 1, &protect), 1);
    EXPECT_EQ(GetWriteValue(0, &flag, &v, &set, &protect), 1);
    EXPECT_EQ(v, 1234);
    EXPECT_EQ(set, 1);
    EXPECT_EQ(GetExternalInput(0, &flag, &input), 1);
    EXPECT_EQ(DevicePWR(0, &flag, 1), 1);
    EXPECT_EQ(GetDeviceID(1, &flag, &id), 0);
    EXPECT_EQ(flag, 1);
}

TEST(SimDrift, StaysNearItsBaseAndMovesOverTime) {
    const std::array<std::uint16_t, 3> base = {2150, 2200, 2375};
    std::set<std::array<std::uint16_t, 3>> seen;
    for (double t = 1.7e9; t < 1.7e9 + 60; t += 1) {
        auto now = ZorekSimulator::Drifted(base, 40, t);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_GE(now[i], base[i] - 40);
            EXPECT_LE(now[i], base[i] + 40);
        }
        seen.insert(now);
    }
    EXPECT_GT(seen.size(), 50u);  // a new reading nearly every second
    EXPECT_NE(ZorekSimulator::Drifted(base, 40, 10)[0], ZorekSimulator::Drifted(base, 40, 20)[0]);
    EXPECT_EQ(ZorekSimulator::Drifted(base, 0, 12345.6), base);
}

TEST(SimDrift, ClampsAtTheEndsOfTheRange) {
    for (double t = 0; t < 70; t += 0.5) {
        auto low = ZorekSimulator::Drifted({0, 1, 2}, 100, t);
        auto high = ZorekSimulator::Drifted({65535, 65534, 65500}, 100, t);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_LE(low[i], 102);
            EXPECT_GE(high[i], 65400);
        }
    }
}

TEST_F(SimSetup, FaultsGoToTheirOwnDeviceAfterThoseAlreadyPresent) {
    ZorekSim::AddDevice();
    ZorekSimulator::Apply(Parsed(R"({"devices": [
        {"faults": [{"kind": "open-error"}]},
        {"faults": [{"kind": "access-violation", "command": "status"}], "identification": {"deviceId": 7}}
    ]})"));
    std::int32_t flag = -1, id = 0, t1 = -1, t2 = -1, t3 = -1;
    EXPECT_EQ(GetDeviceID(0, &flag, &id), 1);
    EXPECT_EQ(GetDeviceID(1, &flag, &id), 0);
    EXPECT_EQ(flag, 8);
    EXPECT_EQ(GetDeviceID(2, &flag, &id), 1);
    EXPECT_EQ(id, 7);
    EXPECT_EQ(GetTemperature(2, &flag, &t1, &t2, &t3), 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(ZorekSim::CaughtFaults(), 1u);
    EXPECT_EQ(GetTemperature(0, &flag, &t1, &t2, &t3), 1);
    EXPECT_EQ(ZorekSim::Open(), ZorekSim::OpenResources{});
}

struct FaultCase {
    const char* fault;
    std::vector<std::pair<std::int32_t, std::int32_t>> calls;  // result and status of GetDeviceID, call by call
};

TEST_F(SimSetup, EachFaultKindAsTheLibraryReportsIt) {
    const FaultCase cases[] = {
        {R"({"kind": "open-error"})", {{0, 8}, {0, 8}}},
        {R"({"kind": "open-error", "occurrence": 2})", {{1, 0}, {0, 8}, {1, 0}}},
        {R"({"kind": "init-failure"})", {{0, 0}, {0, 0}}},
        {R"({"kind": "access-violation"})", {{0, 5}}},
        {R"({"kind": "access-violation", "pipe": "write", "command": "info"})", {{0, 5}}},
        {R"({"kind": "access-violation", "pipe": "read", "command": "0x24"})", {{0, 6}}},
        {R"({"kind": "access-violation", "command": "status"})", {{1, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        ZorekSim::Reset();
        ZorekSimulator::Apply(Parsed(std::string(R"({"devices": [{"faults": [)") + c.fault + "]}]}"));
        for (const auto& [result, status] : c.calls) {
            std::int32_t flag = -1, id = -1;
            EXPECT_EQ(GetDeviceID(0, &flag, &id), result);
            EXPECT_EQ(flag, status);
        }
        EXPECT_EQ(ZorekSim::Open(), ZorekSim::OpenResources{});
    }
}

TEST_F(SimSetup, ConfiguredDriftMovesTheConfiguredTemperatures) {
    ZorekSimulator::Apply(Parsed(R"({"devices": [{"drift": 5, "state": {"temperatures": [100, 200, 300]}},
                                                 {"state": {"temperatures": [100, 200, 300]}}]})"));
    std::int32_t flag = -1, t1 = 0, t2 = 0, t3 = 0;
    ASSERT_EQ(GetTemperature(0, &flag, &t1, &t2, &t3), 1);
    EXPECT_NEAR(t1, 100, 5);
    EXPECT_NEAR(t2, 200, 5);
    EXPECT_NEAR(t3, 300, 5);
    ASSERT_EQ(GetTemperature(1, &flag, &t1, &t2, &t3), 1);
    EXPECT_EQ((std::array{t1, t2, t3}), (std::array{100, 200, 300}));
}

// The library exports the eight functions and nothing else.
TEST(SimLibrary, ExportsExactlyTheEightFunctions) {
    std::unique_ptr<FILE, int (*)(FILE*)> nm(popen("nm -D --defined-only '" ZOREK_SIM_LIBRARY "' 2>&1", "r"), pclose);
    ASSERT_NE(nm, nullptr);
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, nm.get()) != nullptr) {
        char type = 0;
        char name[400];
        if (std::sscanf(line, "%*s %c %399s", &type, name) == 2) names.insert(name);
    }
    EXPECT_EQ(names, (std::set<std::string>{"DevicePWR", "GetDeviceID", "GetExternalInput", "GetInterfaceVersion",
                                            "GetTemperature", "GetWriteValue", "SetDisplay", "SetMainValue"}));
}

// Loading the library reads nothing (on Windows that would happen under the
// loader lock); the first call, from whichever thread, takes the configuration
// as the file is then, and the threads that call at the same time wait for it.
TEST(SimLibrary, TakesItsConfigurationAtTheFirstCallNotWhenLoaded) {
    namespace fs = std::filesystem;
    const fs::path file = fs::temp_directory_path() / ("zorek-sim-late-" + std::to_string(getpid()) + ".json");
    fs::remove(file);
    ASSERT_EQ(setenv("ZOREK_SIM_CONFIG", file.c_str(), 1), 0);

    ::testing::internal::CaptureStderr();
    void* library = dlopen(ZOREK_SIM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    std::string atLoad = ::testing::internal::GetCapturedStderr();
    ASSERT_NE(library, nullptr) << dlerror();
    EXPECT_EQ(atLoad, "");  // the file does not exist yet, and nobody said so

    std::ofstream(file) << R"({"devices": [{"identification": {"deviceId": 4660}}, {}]})";
    auto getDeviceId = reinterpret_cast<decltype(&GetDeviceID)>(dlsym(library, "GetDeviceID"));
    ASSERT_NE(getDeviceId, nullptr);
    constexpr int Threads = 4;
    std::int32_t flags[Threads], ids[Threads], results[Threads];
    ::testing::internal::CaptureStderr();
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < Threads; ++i)
            threads.emplace_back([&, i] { results[i] = getDeviceId(0, &flags[i], &ids[i]); });
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    for (int i = 0; i < Threads; ++i) {
        EXPECT_EQ(results[i], 1);
        EXPECT_EQ(flags[i], 0);
        EXPECT_EQ(ids[i], 4660);
    }
    // Taken once: a changed file changes nothing.
    std::ofstream(file) << R"({"devices": []})";
    std::int32_t flag = -1, id = 0;
    EXPECT_EQ(getDeviceId(1, &flag, &id), 1);

    unsetenv("ZOREK_SIM_CONFIG");
    fs::remove(file);
    dlclose(library);
}
