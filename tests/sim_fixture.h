// Shared fixture: a fresh simulated platform per test, and a uniform way to
// call each of the seven device functions.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "interface/zorek.h"
#include "platform/sim/sim.h"

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { ZorekSim::Reset(); }
    void TearDown() override { ZorekSim::Reset(); }

    // Number of calls of one kind in the record.
    static std::size_t Count(ZorekSim::Call call);
    // Requests written, in order.
    static std::vector<ZorekSim::Packet> Requests();
    static void ExpectNothingOpen() { EXPECT_EQ(ZorekSim::Open(), ZorekSim::OpenResources{}); }
};

// One device function with outputs of its own, preset to a sentinel.
struct DeviceFunction {
    std::string name;
    std::function<std::int32_t(std::int32_t USBID, std::int32_t* USBFlag, std::vector<std::int32_t>& outputs)> call;
    std::size_t outputs;     // how many outputs it has
    std::size_t exchanges;   // on success
    std::uint8_t replyCode;  // of its operation request; 0 for none
};

inline constexpr std::int32_t Sentinel = 0x5A5A5A5A;

const std::vector<DeviceFunction>& DeviceFunctions();
// Those with an operation request (all but GetDeviceID).
std::vector<DeviceFunction> OperationFunctions();
void PrintTo(const DeviceFunction& f, std::ostream* os);
std::string FunctionName(const ::testing::TestParamInfo<DeviceFunction>& info);

// Runs f on USBID; returns result and status, leaving outputs.
struct Outcome {
    std::int32_t result;
    std::int32_t status;
    std::vector<std::int32_t> outputs;
};
Outcome Invoke(const DeviceFunction& f, std::int32_t USBID = 0);

// The outputs after a failed call: the caller's sentinels, except GetDeviceID's
// deviceID, which every call clears at entry.
std::vector<std::int32_t> UntouchedOutputs(const DeviceFunction& f);

// The 64-byte packet with the given leading bytes.
ZorekSim::Packet Bytes(std::initializer_list<std::uint8_t> leading);
