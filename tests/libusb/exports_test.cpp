// libzorek.so as a host uses it: the eight exported functions on emulated
// instruments, from discovery to the close.
#include <zorek.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "usb_fixture.h"

namespace {

constexpr std::int32_t Sentinel = 0x5A5A5A5A;

struct Outcome {
    std::int32_t result = Sentinel;
    std::int32_t status = Sentinel;
    std::vector<std::int32_t> outputs;
};

struct DeviceFunction {
    std::string name;
    std::size_t outputs;
    std::function<std::int32_t(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t* out)> call;
    std::vector<std::uint8_t> commands;  // requests on success, in order
    // Checks the outputs and the device's state after a successful call.
    std::function<void(const std::vector<std::int32_t>& out, const ZorekInstrument::State& after)> check;
};

void PrintTo(const DeviceFunction& f, std::ostream* os) { *os << f.name; }

// The outputs after a failed call: the sentinels, except GetDeviceID's
// deviceID, which every call clears at entry.
std::vector<std::int32_t> UntouchedOutputs(const DeviceFunction& f) {
    return f.name == "GetDeviceID" ? std::vector<std::int32_t>{0} : std::vector<std::int32_t>(f.outputs, Sentinel);
}

Outcome Invoke(const DeviceFunction& f, std::int32_t USBID) {
    Outcome outcome;
    outcome.outputs.assign(std::max<std::size_t>(f.outputs, 1), Sentinel);
    outcome.result = f.call(USBID, &outcome.status, outcome.outputs.data());
    outcome.outputs.resize(f.outputs);
    return outcome;
}

// The instrument every end-to-end call talks to.
ZorekInstrument::State Instrument() {
    ZorekInstrument::State state;
    state.deviceId = 0x0A0B0C0D;
    state.mainValue = -123456;
    state.protectState = 7;
    state.setFlag = 1;
    state.temperatures = {2150, 2200, 65535};
    state.externalInput = 1;
    return state;
}

const std::vector<DeviceFunction>& DeviceFunctions() {
    using V = const std::vector<std::int32_t>&;
    using S = const ZorekInstrument::State&;
    static const std::vector<DeviceFunction> functions = {
        {"GetDeviceID",
         1,
         [](std::int32_t id, std::int32_t* flag, std::int32_t* o) { return GetDeviceID(id, flag, o); },
         {0x20, 0x24},
         [](V out, S) { EXPECT_EQ(out, std::vector<std::int32_t>{0x0A0B0C0D}); }},
        {"GetWriteValue",
         3,
         [](std::int32_t id, std::int32_t* flag, std::int32_t* o) { return GetWriteValue(id, flag, o, o + 1, o + 2); },
         {0x20, 0x24, 0xD2},
         [](V out, S) {
             EXPECT_EQ(out, (std::vector<std::int32_t>{-123456, 1, 7}));
         }},
        {"GetTemperature",
         3,
         [](std::int32_t id, std::int32_t* flag, std::int32_t* o) { return GetTemperature(id, flag, o, o + 1, o + 2); },
         {0x20, 0x24, 0xD6},
         [](V out, S) {
             EXPECT_EQ(out, (std::vector<std::int32_t>{2150, 2200, 65535}));
         }},
        {"GetExternalInput",
         1,
         [](std::int32_t id, std::int32_t* flag, std::int32_t* o) { return GetExternalInput(id, flag, o); },
         {0x20, 0x24, 0xD6},
         [](V out, S) { EXPECT_EQ(out, std::vector<std::int32_t>{1}); }},
        {"DevicePWR",
         0,
         [](std::int32_t id, std::int32_t* flag, std::int32_t*) { return DevicePWR(id, flag, 2); },
         {0x20, 0x24, 0xD8},
         [](V, S after) { EXPECT_EQ(after.powerMode, 2); }},
        {"SetDisplay",
         0,
         [](std::int32_t id, std::int32_t* flag, std::int32_t*) { return SetDisplay(id, flag, 300); },
         {0x20, 0x24, 0xDA},
         [](V, S after) {
             EXPECT_EQ(after.contrast, 44);
             EXPECT_EQ(after.displaySelect, 1);
         }},
        {"SetMainValue",
         1,
         [](std::int32_t id, std::int32_t* flag, std::int32_t* o) { return SetMainValue(id, flag, 0x01020304, 5, o); },
         {0x20, 0x24, 0xD0},
         [](V out, S after) {
             EXPECT_EQ(out, std::vector<std::int32_t>{7});
             EXPECT_EQ(after.mainValue, 0x01020304);
             EXPECT_EQ(after.setFlag, 1);
         }},
    };
    return functions;
}

std::vector<std::uint8_t> Commands(const std::vector<ZorekUsb::Packet>& requests) {
    std::vector<std::uint8_t> commands;
    for (const auto& request : requests) commands.push_back(request[0]);
    return commands;
}

class ExportsTest : public UsbTest {
protected:
    int AddInstrumentWith(const ZorekInstrument::State& state, std::uint8_t busNumber = 1,
                          std::vector<std::uint8_t> ports = {2}) {
        ZorekUsb::DeviceConfig config;
        config.bus = busNumber;
        config.ports = std::move(ports);
        config.state = state;
        return Add(config);
    }
    static std::int32_t DeviceId(std::int32_t USBID, std::int32_t* status = nullptr) {
        std::int32_t flag = Sentinel, id = Sentinel;
        std::int32_t result = GetDeviceID(USBID, &flag, &id);
        if (status != nullptr) *status = flag;
        return result == 1 && flag == 0 ? id : -1;
    }
};

class EveryFunction : public ExportsTest, public ::testing::WithParamInterface<DeviceFunction> {};

TEST_P(EveryFunction, RunsEndToEnd) {
    const DeviceFunction& f = GetParam();
    int device = AddInstrumentWith(Instrument());
    Outcome outcome = Invoke(f, 0);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.status, ZOREK_STATUS_OK);
    f.check(outcome.outputs, bus.State(device));
    ZorekUsb::Activity seen = bus.Seen(device);
    EXPECT_EQ(Commands(seen.requests), f.commands);
    EXPECT_EQ(seen.requestsWithoutClaim, 0);
    EXPECT_EQ(seen.opens, 1);
    EXPECT_EQ(seen.claims, 1);
    EXPECT_EQ(seen.releases, 1);
}

TEST_P(EveryFunction, FindsNoDeviceAtAnIndexWithoutOne) {
    const DeviceFunction& f = GetParam();
    int hub = AddHub(1, {2});
    int foreign = Add({.bus = 1, .ports = {3}, .vendorId = 0x1209, .productId = 0x0002});
    for (std::int32_t USBID : {0, 1, -1}) {
        Outcome outcome = Invoke(f, USBID);
        EXPECT_EQ(outcome.result, 0) << "USBID " << USBID;
        EXPECT_EQ(outcome.status, ZOREK_STATUS_NO_DEVICE) << "USBID " << USBID;
        EXPECT_EQ(outcome.outputs, UntouchedOutputs(f));
    }
    EXPECT_EQ(bus.Seen(hub).opens, 0);
    EXPECT_EQ(bus.Seen(foreign).opens, 0);
}

TEST_P(EveryFunction, RefusedClaimGivesResultZeroWithStatusZero) {
    const DeviceFunction& f = GetParam();
    int device = AddInstrumentWith(Instrument());
    bus.SetClaimError(device, EBUSY);
    Outcome outcome = Invoke(f, 0);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.status, ZOREK_STATUS_OK);
    EXPECT_EQ(outcome.outputs, UntouchedOutputs(f));
    ZorekUsb::Activity seen = bus.Seen(device);
    EXPECT_EQ(seen.refusedClaims, 1);
    EXPECT_TRUE(seen.requests.empty());
    EXPECT_EQ(seen.opens, 1);
}

TEST_P(EveryFunction, OpenFailureEndsWithStatusEight) {
    const DeviceFunction& f = GetParam();
    int device = AddInstrumentWith(Instrument());
    bus.DeleteNode(device);
    Outcome outcome = Invoke(f, 0);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.status, ZOREK_STATUS_WRONG_DEVICE);
    EXPECT_EQ(outcome.outputs, UntouchedOutputs(f));
    EXPECT_EQ(bus.Seen(device).opens, 0);
}

INSTANTIATE_TEST_SUITE_P(Exports, EveryFunction, ::testing::ValuesIn(DeviceFunctions()),
                         [](const ::testing::TestParamInfo<DeviceFunction>& info) { return info.param.name; });

TEST_F(ExportsTest, InterfaceVersionNeedsNoDevice) { EXPECT_EQ(GetInterfaceVersion(), 258); }

TEST_F(ExportsTest, IndexPastTheLastDeviceGivesStatusOne) {
    AddInstrument(1, {2}, 0x1111);
    std::int32_t status = Sentinel;
    EXPECT_EQ(DeviceId(0), 0x1111);
    for (std::int32_t USBID : {1, 2, -1}) {
        EXPECT_EQ(DeviceId(USBID, &status), -1);
        EXPECT_EQ(status, ZOREK_STATUS_NO_DEVICE);
    }
}

TEST_F(ExportsTest, TwoDevicesAnswerAtIndicesZeroAndOne) {
    int second = AddInstrument(1, {3}, 0x2222);  // plugged in first, on the later port
    int first = AddInstrument(1, {2}, 0x1111);
    EXPECT_EQ(DeviceId(0), 0x1111);
    EXPECT_EQ(DeviceId(1), 0x2222);
    std::int32_t status = Sentinel, protect = Sentinel;
    EXPECT_EQ(SetMainValue(1, &status, 42, 1, &protect), 1);
    EXPECT_EQ(bus.State(second).mainValue, 42);
    EXPECT_EQ(bus.State(first).mainValue, 0);
    EXPECT_EQ(DeviceId(2, &status), -1);
    EXPECT_EQ(status, ZOREK_STATUS_NO_DEVICE);
}

TEST_F(ExportsTest, IndicesFollowBusThenPortPath) {
    AddInstrument(2, {1}, 0x3333);
    AddInstrument(1, {10}, 0x2222);
    AddInstrument(1, {9}, 0x1111);
    EXPECT_EQ(DeviceId(0), 0x1111);
    EXPECT_EQ(DeviceId(1), 0x2222);
    EXPECT_EQ(DeviceId(2), 0x3333);
}

TEST_F(ExportsTest, UnpluggedDeviceIsGoneFromTheNextCall) {
    int first = AddInstrument(1, {2}, 0x1111);
    AddInstrument(1, {3}, 0x2222);
    EXPECT_EQ(DeviceId(0), 0x1111);
    bus.Remove(first);
    EXPECT_EQ(DeviceId(0), 0x2222);
    std::int32_t status = Sentinel;
    EXPECT_EQ(DeviceId(1, &status), -1);
    EXPECT_EQ(status, ZOREK_STATUS_NO_DEVICE);
}

// Each call waits out the core's pipe time-out, so two functions stand for all:
// one that clears its output at entry and one that leaves its outputs alone.
TEST_F(ExportsTest, DeviceThatDoesNotAnswerFailsWithStatusFiveAfterTheTimeout) {
    for (const DeviceFunction& f : DeviceFunctions()) {
        if (f.name != "GetDeviceID" && f.name != "GetTemperature") continue;
        SCOPED_TRACE(f.name);
        int device = AddInstrumentWith(Instrument());
        bus.SetSilent(device, true);
        Outcome outcome = Invoke(f, 0);
        EXPECT_EQ(outcome.result, 0);
        EXPECT_EQ(outcome.status, ZOREK_STATUS_INFO_REQUEST);
        EXPECT_EQ(outcome.outputs, UntouchedOutputs(f));
        ZorekUsb::Activity seen = bus.Seen(device);
        EXPECT_EQ(Commands(seen.requests), std::vector<std::uint8_t>{0x20});
        EXPECT_EQ(seen.discards, 1);
        EXPECT_EQ(seen.releases, 1);

        // Once the device answers again, so does the next call.
        bus.SetSilent(device, false);
        outcome = Invoke(f, 0);
        EXPECT_EQ(outcome.result, 1);
        EXPECT_EQ(outcome.status, ZOREK_STATUS_OK);
        f.check(outcome.outputs, bus.State(device));
        bus.Remove(device);
    }
}

// Each thread works its own device; one more asks for an index without one.
TEST_F(ExportsTest, SeveralThreadsAtOnce) {
    constexpr int Devices = 3, Calls = 20;
    std::vector<int> devices;
    for (int i = 0; i < Devices; ++i)
        devices.push_back(AddInstrument(1, {static_cast<std::uint8_t>(2 + i)}, 0x1000 + static_cast<std::uint32_t>(i)));
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int index = 0; index < Devices; ++index) {
        threads.emplace_back([index, &failures] {
            for (int call = 0; call < Calls; ++call) {
                std::int32_t status = Sentinel, id = Sentinel, t1 = 0, t2 = 0, t3 = 0, protect = 0;
                bool ok = false;
                switch (call % 3) {
                    case 0: ok = GetDeviceID(index, &status, &id) == 1 && id == 0x1000 + index; break;
                    case 1: ok = GetTemperature(index, &status, &t1, &t2, &t3) == 1 && t1 == 2150; break;
                    case 2: ok = SetMainValue(index, &status, index * 1000 + call, 1, &protect) == 1; break;
                }
                if (!ok || status != 0) ++failures;
            }
        });
    }
    threads.emplace_back([&failures] {
        for (int call = 0; call < Calls; ++call) {
            std::int32_t status = Sentinel, id = Sentinel;
            if (GetDeviceID(Devices, &status, &id) != 0 || status != ZOREK_STATUS_NO_DEVICE || id != 0) ++failures;
            if (GetInterfaceVersion() != 258) ++failures;
        }
    });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, 0);
    std::size_t requests = 0;
    int lastSet = 0;
    for (int call = 0; call < Calls; ++call) {
        requests += call % 3 == 0 ? 2 : 3;
        if (call % 3 == 2) lastSet = call;
    }
    for (int index = 0; index < Devices; ++index) {
        ZorekUsb::Activity seen = bus.Seen(devices[index]);
        EXPECT_EQ(seen.requests.size(), requests);
        EXPECT_EQ(seen.requestsWithoutClaim, 0);
        EXPECT_EQ(seen.claims, Calls);
        EXPECT_EQ(seen.releases, Calls);
        EXPECT_EQ(bus.State(devices[index]).mainValue, index * 1000 + lastSet);
    }
}

// Two threads on one device: the interface is claimed by one open at a time,
// so a call either runs fully or is refused at the claim with status 0.
TEST_F(ExportsTest, TwoThreadsOnOneDeviceTakeTurnsAtTheClaim) {
    constexpr int Calls = 15;
    int device = AddInstrument(1, {2}, 0x4444);
    std::atomic<int> succeeded{0}, refused{0}, wrong{0};
    auto work = [&] {
        for (int call = 0; call < Calls; ++call) {
            std::int32_t status = Sentinel, id = Sentinel;
            std::int32_t result = GetDeviceID(0, &status, &id);
            if (result == 1 && status == 0 && id == 0x4444)
                ++succeeded;
            else if (result == 0 && status == 0 && id == 0)
                ++refused;
            else
                ++wrong;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(wrong, 0);
    ZorekUsb::Activity seen = bus.Seen(device);
    EXPECT_EQ(seen.claims, succeeded);
    EXPECT_EQ(seen.refusedClaims, refused);
    EXPECT_EQ(seen.requests.size(), 2u * succeeded);
    EXPECT_EQ(seen.requestsWithoutClaim, 0);
    EXPECT_EQ(DeviceId(0), 0x4444);
}

}  // namespace
