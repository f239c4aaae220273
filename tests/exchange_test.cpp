// The request exchange: TRB, access-violation faults, time-outs, threads.
#include "protocol/exchange.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "device/connection.h"
#include "protocol/requests.h"
#include "sim_fixture.h"

using namespace ZorekSim;
namespace P = ZorekPlatform;
using ZorekInterface::TRB;

TEST_F(SimTest, FlagStartsFreeAndIsFreeAfterEveryCall) {
    EXPECT_FALSE(TRB.load());
    AddDevice();
    for (const auto& f : DeviceFunctions()) {
        EXPECT_EQ(Invoke(f).result, 1);
        EXPECT_FALSE(TRB.load());
    }
}

TEST_F(SimTest, FailedWriteIsStillFollowedByTheRead) {
    AddDevice();
    InjectFault({Call::WinUsbWritePipe, Fault::Kind::Fail, 1, 0, P::ErrorGenFailure, 0, {}, true});
    std::int32_t flag, id;
    EXPECT_EQ(GetDeviceID(0, &flag, &id), 1);
    InjectFault({Call::WinUsbWritePipe, Fault::Kind::Fail, 1, 0, P::ErrorGenFailure});
    SetTimeoutScale(0.01);
    EXPECT_EQ(GetDeviceID(0, &flag, &id), 0);
    EXPECT_EQ(flag, 5);
    EXPECT_EQ(CallSequence()[CallSequence().size() - 5], Call::WinUsbReadPipe);
}

TEST_F(SimTest, AccessViolationInsideATransfer) {
    struct Case {
        Call call;
        int occurrence;
        std::int32_t status, result;
    };
    for (const auto& c : {Case{Call::WinUsbWritePipe, 1, 5, 0}, Case{Call::WinUsbReadPipe, 1, 5, 0},
                          Case{Call::WinUsbWritePipe, 2, 6, 0}, Case{Call::WinUsbReadPipe, 3, 0, 0}}) {
        Reset();
        AddDevice();
        InjectFault({c.call, Fault::Kind::AccessViolation, c.occurrence});
        std::int32_t flag = Sentinel, t1 = Sentinel, t2 = Sentinel, t3 = Sentinel;
        EXPECT_EQ(GetTemperature(0, &flag, &t1, &t2, &t3), c.result);
        EXPECT_EQ(flag, c.status);
        EXPECT_EQ(t1, Sentinel);
        EXPECT_EQ(CaughtFaults(), 1u);
        EXPECT_FALSE(TRB.load());
        ExpectNothingOpen();
        // A fault inside the write skips the read.
        if (c.call == Call::WinUsbWritePipe) {
            EXPECT_EQ(Count(Call::WinUsbReadPipe), std::size_t(c.occurrence - 1));
        }
        EXPECT_EQ(GetTemperature(0, &flag, &t1, &t2, &t3), 1);
    }
}

TEST_F(SimTest, AccessViolationInsideTheCloseOrTheFree) {
    for (Call call : {Call::CloseHandle, Call::WinUsbFree}) {
        Reset();
        AddDevice();
        InjectFault({call, Fault::Kind::AccessViolation});
        std::int32_t flag = Sentinel, id = 0;
        EXPECT_EQ(GetDeviceID(0, &flag, &id), 1);  // the close changes neither result nor status
        EXPECT_EQ(flag, 0);
        EXPECT_EQ(CaughtFaults(), 1u);
        EXPECT_EQ(Count(Call::SetupDiDestroyDeviceInfoList), 1u);
        EXPECT_EQ(Count(Call::HeapFree), 2u);
        if (call == Call::CloseHandle) {
            EXPECT_EQ(Count(Call::WinUsbFree), 0u);
        }
        EXPECT_EQ(GetDeviceID(0, &flag, &id), 1);
    }
}

TEST_F(SimTest, DisconnectDevice) {
    int device = AddDevice();
    auto path = DevicePath(device);
    auto open = [&] {
        P::Handle file = P::CreateFileW(path.c_str(), 0xC0000000, 3, nullptr, 3, 0x40000000, nullptr);
        P::Handle usb = nullptr;
        P::WinUsb_Initialize(file, &usb);
        return std::pair{usb, file};
    };
    EXPECT_FALSE(ZorekInterface::DisconnectDevice(reinterpret_cast<P::Handle>(0x30001), nullptr));
    EXPECT_TRUE(CallSequence().empty());

    auto [usb, file] = open();
    EXPECT_TRUE(ZorekInterface::DisconnectDevice(usb, file));
    ExpectNothingOpen();

    auto [usb2, file2] = open();
    EXPECT_TRUE(ZorekInterface::DisconnectDevice(nullptr, file2));
    EXPECT_EQ(Open(), (OpenResources{0, 0, 1, 0}));
    EXPECT_TRUE(P::WinUsb_Free(usb2));

    auto [usb3, file3] = open();
    InjectFault({Call::CloseHandle, Fault::Kind::Fail});
    EXPECT_FALSE(ZorekInterface::DisconnectDevice(usb3, file3));
    EXPECT_EQ(Open(), (OpenResources{0, 1, 1, 0}));
}

TEST_F(SimTest, DeviceInfoLineFromByteFive) {
    int device = AddDevice();
    auto path = DevicePath(device);
    P::Handle file = P::CreateFileW(path.c_str(), 0xC0000000, 3, nullptr, 3, 0x40000000, nullptr);
    P::Handle usb = nullptr;
    ASSERT_EQ(P::WinUsb_Initialize(file, &usb), 1);
    struct Case {
        std::uint8_t byte5;
        std::int32_t line;
    };
    for (auto c : {Case{0x93, 1}, Case{0x95, 1}, Case{0x94, 0}, Case{0x10, Sentinel}}) {
        SetReply(device, 0x20, {Reply::Kind::Bytes, {0x21, 0x94, 0xFF, 0xFF, 0xFF, c.byte5, 0xFF}});
        std::int32_t firm = Sentinel, name = Sentinel, version = Sentinel, type = Sentinel, line = Sentinel;
        ASSERT_TRUE(ZorekInterface::GetDeviceInfo(usb, file, &firm, &name, &version, &type, &line));
        EXPECT_EQ(std::vector<std::int32_t>({firm, name, version, type, line}),
                  std::vector<std::int32_t>({c.byte5, 255, 65535, 255, c.line}));
    }
    P::CloseHandle(file);
    P::WinUsb_Free(usb);
}

TEST_F(SimTest, SilentDeviceTimesOutAndReleasesTheFlag) {
    Device silent, other;
    silent.replies[0xD6] = {Reply::Kind::Silent};
    other.state.deviceId = 42;
    AddDevice(silent);
    AddDevice(other);
    std::atomic<bool> started{false};
    std::int32_t silentResult = -1, silentFlag = -1;
    auto begin = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration silentTook{};
    std::thread stuck([&] {
        std::int32_t t = 0;
        started = true;
        silentResult = GetTemperature(0, &silentFlag, &t, &t, &t);
        silentTook = std::chrono::steady_clock::now() - begin;
    });
    while (!started) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::int32_t flag = -1, id = 0;
    EXPECT_EQ(GetDeviceID(1, &flag, &id), 1);  // waits for the flag, then proceeds
    EXPECT_EQ(id, 42);
    stuck.join();
    EXPECT_EQ(silentResult, 0);
    EXPECT_EQ(silentFlag, 0);
    EXPECT_GE(silentTook, std::chrono::milliseconds(900));  // the pipe time-out, not for ever
    EXPECT_FALSE(TRB.load());
    ExpectNothingOpen();
}

TEST_F(SimTest, ConcurrentCallsNeverInterleaveInsideAnExchange) {
    Device a, b;
    a.state.deviceId = 1001;
    b.state.deviceId = 2002;
    a.latency = b.latency = std::chrono::microseconds(20);
    a.state.temperatures = {1, 2, 3};
    b.state.temperatures = {4, 5, 6};
    AddDevice(a);
    AddDevice(b);
    constexpr int Threads = 8, CallsEach = 150;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < CallsEach; ++i) {
                std::int32_t device = (t + i) % 2, flag = -1, x = 0, y = 0, z = 0;
                bool right = false;
                switch ((t * 7 + i) % 5) {
                    case 0: right = GetDeviceID(device, &flag, &x) == 1 && x == (device == 0 ? 1001 : 2002); break;
                    case 1:
                        right = GetTemperature(device, &flag, &x, &y, &z) == 1 && x == (device == 0 ? 1 : 4) &&
                                z == (device == 0 ? 3 : 6);
                        break;
                    case 2: right = GetExternalInput(device, &flag, &x) == 1 && x == 0; break;
                    case 3: right = DevicePWR(device, &flag, 2) == 1; break;
                    case 4: right = DevicePWR(device, &flag, 3) == 0; break;
                }
                if (!right || flag != 0) ++wrong;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(InterleaveViolations(), 0u);
    EXPECT_FALSE(TRB.load());
    ExpectNothingOpen();
    // The calls did overlap: some thread's exchange came between another
    // call's two identification requests.
    auto calls = Calls();
    std::size_t switches = 0;
    for (std::size_t i = 1; i < calls.size(); ++i)
        if (calls[i].call == Call::WinUsbWritePipe) {
            auto previous = std::find_if(calls.rbegin() + (calls.size() - i), calls.rend(),
                                         [](auto& c) { return c.call == Call::WinUsbReadPipe; });
            switches += previous != calls.rend() && previous->thread != calls[i].thread;
        }
    EXPECT_GT(switches, 0u);
}
