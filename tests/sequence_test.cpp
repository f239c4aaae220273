// The platform calls a device call makes, in order and with their arguments.
#include "sim_fixture.h"

using namespace ZorekSim;
namespace P = ZorekPlatform;

namespace {

std::vector<Call> SuccessfulCall(std::size_t exchanges) {
    std::vector<Call> calls = {
        Call::SetupDiGetClassDevs,
        Call::SetupDiEnumDeviceInterfaces,
        Call::SetupDiEnumDeviceInfo,
        Call::SetupDiGetDeviceRegistryProperty,
        Call::HeapAlloc,
        Call::SetupDiGetDeviceRegistryProperty,
        Call::HeapFree,
        Call::SetupDiGetDeviceInterfaceDetail,
        Call::HeapAlloc,
        Call::SetupDiGetDeviceInterfaceDetail,
        Call::CreateFile,
        Call::GetLastError,
        Call::WinUsbInitialize,
        Call::WinUsbSetPipePolicy,
        Call::WinUsbSetPipePolicy,
    };
    for (std::size_t i = 0; i < exchanges; ++i)
        calls.insert(calls.end(), {Call::WinUsbWritePipe, Call::WinUsbReadPipe});
    calls.insert(calls.end(),
                 {Call::CloseHandle, Call::WinUsbFree, Call::SetupDiDestroyDeviceInfoList, Call::HeapFree});
    return calls;
}

class Sequence : public SimTest, public ::testing::WithParamInterface<DeviceFunction> {};

}  // namespace

TEST_P(Sequence, SuccessfulCall) {
    AddDevice();
    ASSERT_EQ(Invoke(GetParam()).result, 1);
    EXPECT_EQ(CallSequence(), SuccessfulCall(GetParam().exchanges));
    ExpectNothingOpen();
}

TEST_F(SimTest, ArgumentsOfEveryPlatformCall) {
    AddDevice();
    std::int32_t flag, t1, t2, t3;
    ASSERT_EQ(GetTemperature(0, &flag, &t1, &t2, &t3), 1);
    auto calls = Calls();
    ASSERT_EQ(calls.size(), SuccessfulCall(3).size());
    const std::uint64_t set = calls[0].result;
    const std::uint64_t interfaceSize = sizeof(P::DeviceInterfaceData), deviceSize = sizeof(P::DevInfoData);

    EXPECT_EQ(calls[0].args, (std::vector<std::uint64_t>{1, 0, 0, 0x12}));
    EXPECT_EQ(calls[1].args, (std::vector<std::uint64_t>{set, 0, 1, 0, interfaceSize}));
    EXPECT_EQ(calls[2].args, (std::vector<std::uint64_t>{set, 0, deviceSize}));
    // Hardware-ID list: size query without buffer, then a buffer of exactly that size.
    const auto& sizeQuery = calls[3].args;
    EXPECT_EQ(sizeQuery[2], P::SpdrpHardwareId);
    EXPECT_EQ(sizeQuery[4], 0u);
    EXPECT_EQ(sizeQuery[5], 0u);
    EXPECT_NE(sizeQuery[6], 0u);
    const std::uint64_t listBytes = (30 + 1 + 21 + 1 + 1) * 2;
    EXPECT_EQ(calls[4].args[0], listBytes);
    const auto& fill = calls[5].args;
    EXPECT_EQ(fill[4], calls[4].result);
    EXPECT_EQ(fill[5], listBytes);
    EXPECT_EQ(fill[6], 0u);
    EXPECT_EQ(calls[6].args[0], calls[4].result);
    // Detail record: size query, then exactly that size with cbSize of the fixed part.
    EXPECT_EQ(calls[7].args[2], 0u);
    EXPECT_EQ(calls[7].args[3], 0u);
    EXPECT_EQ(calls[7].args[5], 0u);
    const std::uint64_t detailBytes = 4 + (DevicePath(0).size() + 1) * 2;
    EXPECT_EQ(calls[8].args[0], detailBytes);
    EXPECT_EQ(calls[9].args, (std::vector<std::uint64_t>{set, calls[7].args[1], calls[8].result, detailBytes, 0, 0,
                                                         P::DetailFixedSize}));
    // Open.
    EXPECT_EQ(calls[10].text, DevicePath(0));
    EXPECT_EQ(calls[10].args, (std::vector<std::uint64_t>{0xC0000000, 3, 0, 3, 0x40000000, 0}));
    const std::uint64_t file = calls[10].result;
    EXPECT_EQ(calls[11].result, 0u);
    EXPECT_EQ(calls[12].args[0], file);
    const std::uint64_t usb = calls[12].args[1];
    // Pipe time-outs, then three exchanges on the interface handle.
    EXPECT_EQ(calls[13].args, (std::vector<std::uint64_t>{usb, 0x01, 0x03, 4, 1000}));
    EXPECT_EQ(calls[14].args, (std::vector<std::uint64_t>{usb, 0x81, 0x03, 4, 1000}));
    for (std::size_t i = 15; i < 21; ++i) {
        const auto& a = calls[i].args;
        EXPECT_EQ(a[0], usb);
        EXPECT_EQ(a[1], calls[i].call == Call::WinUsbWritePipe ? 0x01u : 0x81u);
        EXPECT_EQ(a[2], 64u);
        EXPECT_NE(a[3], 0u);
        EXPECT_EQ(a[4], 0u);  // transferred-length counter cleared beforehand
        EXPECT_EQ(a[5], 0u);  // synchronous
    }
    EXPECT_EQ(calls[21].args[0], file);
    EXPECT_EQ(calls[22].args[0], usb);
    EXPECT_EQ(calls[23].args[0], set);
    EXPECT_EQ(calls[24].args[0], calls[8].result);
}

TEST_F(SimTest, LastErrorIsReadRightAfterAFailedEnumeration) {
    InjectFault({Call::SetupDiEnumDeviceInterfaces, Fault::Kind::Fail, 1, 0, P::ErrorNoMoreItems});
    AddDevice();
    std::int32_t flag, id;
    GetDeviceID(0, &flag, &id);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(CallSequence(), (std::vector<Call>{Call::SetupDiGetClassDevs, Call::SetupDiEnumDeviceInterfaces,
                                                 Call::GetLastError, Call::SetupDiDestroyDeviceInfoList}));
}

TEST_F(SimTest, FailedOpenTakesTheOpenFailurePath) {
    for (bool usable : {false, true}) {
        Reset();
        AddDevice();
        InjectFault(
            {Call::CreateFile, usable ? Fault::Kind::UsableHandle : Fault::Kind::Fail, 1, 0, P::ErrorAccessDenied});
        std::int32_t flag, id;
        EXPECT_EQ(GetDeviceID(0, &flag, &id), 0);
        EXPECT_EQ(flag, 8);
        EXPECT_EQ(Count(Call::WinUsbInitialize), 0u);
        EXPECT_EQ(Count(Call::WinUsbFree), 0u);
        auto calls = Calls();
        auto close = std::find_if(calls.begin(), calls.end(), [](auto& c) { return c.call == Call::CloseHandle; });
        ASSERT_NE(close, calls.end());
        auto open = std::find_if(calls.begin(), calls.end(), [](auto& c) { return c.call == Call::CreateFile; });
        EXPECT_EQ(close->args[0], open->result);  // the handle the open returned, whatever it is
        // The information request goes through the empty interface handle.
        auto write = std::find_if(calls.begin(), calls.end(), [](auto& c) { return c.call == Call::WinUsbWritePipe; });
        ASSERT_NE(write, calls.end());
        EXPECT_EQ(write->args[0], 0u);
        EXPECT_EQ(Count(Call::WinUsbWritePipe), 1u);
        ExpectNothingOpen();
    }
}

TEST_F(SimTest, RejectedInformationSendsNothingMore) {
    SetReply(AddDevice(), 0x20, {Reply::Kind::Bytes, {0x21, 0x92}});
    std::int32_t flag, t;
    EXPECT_EQ(GetTemperature(0, &flag, &t, &t, &t), 0);
    EXPECT_EQ(flag, 5);
    EXPECT_EQ(Count(Call::WinUsbWritePipe), 1u);
    EXPECT_EQ(Count(Call::WinUsbFree), 1u);
}

TEST_F(SimTest, FailedCloseLeavesTheInterfaceUnfreed) {
    AddDevice();
    InjectFault({Call::CloseHandle, Fault::Kind::Fail, 1, 0, P::ErrorInvalidHandle});
    std::int32_t flag, id;
    EXPECT_EQ(GetDeviceID(0, &flag, &id), 1);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(Count(Call::WinUsbFree), 0u);
    EXPECT_EQ(Open(), (OpenResources{0, 1, 1, 0}));
}

TEST_F(SimTest, ReleaseIgnoresAFailedDestroyAndFailedFree) {
    AddDevice();
    InjectFault({Call::WinUsbFree, Fault::Kind::Fail});
    InjectFault({Call::SetupDiDestroyDeviceInfoList, Fault::Kind::Fail});
    std::int32_t flag, id;
    EXPECT_EQ(GetDeviceID(0, &flag, &id), 1);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(Count(Call::HeapFree), 2u);
}

// Discovery's two buffers are the only heap use: the request path allocates nothing.
TEST_P(Sequence, TwoHeapAllocationsBothInDiscovery) {
    AddDevice();
    ASSERT_EQ(Invoke(GetParam()).result, 1);
    auto calls = CallSequence();
    auto open = std::find(calls.begin(), calls.end(), Call::CreateFile);
    EXPECT_EQ(std::count(calls.begin(), open, Call::HeapAlloc), 2);
    EXPECT_EQ(std::count(open, calls.end(), Call::HeapAlloc), 0);
}

INSTANTIATE_TEST_SUITE_P(DeviceFunctions, Sequence, ::testing::ValuesIn(DeviceFunctions()), FunctionName);
