// The simulated platform answers wrong calls as the real services do, so that
// a wrong argument in the library fails a test.
#include <gtest/gtest.h>

#include <cstring>

#include "device/discovery.h"
#include "interface/zorek.h"
#include "platform/platform.h"
#include "platform/sim/sim.h"

namespace P = ZorekPlatform;
using ZorekInterface::DeviceInterfaceGuid;

class SimPlatform : public ::testing::Test {
protected:
    void SetUp() override {
        ZorekSim::Reset();
        ZorekSim::AddDevice();
        set = P::SetupDiGetClassDevsW(&DeviceInterfaceGuid, nullptr, nullptr, 0x12);
    }
    void TearDown() override {
        P::SetupDiDestroyDeviceInfoList(set);
        ZorekSim::Reset();
    }
    P::Handle set{};
};

TEST_F(SimPlatform, EnumerationChecksRecordSizeSetAndIndex) {
    P::DeviceInterfaceData data{};
    data.cbSize = sizeof data + 4;
    EXPECT_FALSE(P::SetupDiEnumDeviceInterfaces(set, nullptr, &DeviceInterfaceGuid, 0, &data));
    EXPECT_EQ(P::GetLastError(), P::ErrorInvalidUserBuffer);
    data.cbSize = sizeof data;
    EXPECT_FALSE(P::SetupDiEnumDeviceInterfaces(P::InvalidHandle, nullptr, &DeviceInterfaceGuid, 0, &data));
    EXPECT_EQ(P::GetLastError(), P::ErrorInvalidHandle);
    EXPECT_FALSE(P::SetupDiEnumDeviceInterfaces(set, nullptr, &DeviceInterfaceGuid, 1, &data));
    EXPECT_EQ(P::GetLastError(), P::ErrorNoMoreItems);
    EXPECT_TRUE(P::SetupDiEnumDeviceInterfaces(set, nullptr, &DeviceInterfaceGuid, 0, &data));
}

TEST_F(SimPlatform, SizeQueriesReportTheByteCount) {
    P::DevInfoData device{};
    device.cbSize = sizeof device;
    ASSERT_TRUE(P::SetupDiEnumDeviceInfo(set, 0, &device));
    std::uint32_t size = 0;
    EXPECT_FALSE(P::SetupDiGetDeviceRegistryPropertyW(set, &device, P::SpdrpHardwareId, nullptr, nullptr, 0, &size));
    EXPECT_EQ(P::GetLastError(), P::ErrorInsufficientBuffer);
    // "USB\VID_04D8&PID_00DF&REV_0100", "USB\VID_04D8&PID_00DF", final NUL.
    EXPECT_EQ(size, (30 + 1 + 21 + 1 + 1) * 2u);

    P::DeviceInterfaceData data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(P::SetupDiEnumDeviceInterfaces(set, nullptr, &DeviceInterfaceGuid, 0, &data));
    std::uint32_t detailSize = 0;
    EXPECT_FALSE(P::SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &detailSize, nullptr));
    EXPECT_EQ(P::GetLastError(), P::ErrorInsufficientBuffer);
    EXPECT_EQ(detailSize, 4 + (ZorekSim::DevicePath(0).size() + 1) * 2);

    std::vector<std::uint8_t> detail(detailSize);
    std::uint32_t wrong = P::DetailFixedSize + 2;
    std::memcpy(detail.data(), &wrong, 4);
    EXPECT_FALSE(P::SetupDiGetDeviceInterfaceDetailW(set, &data, detail.data(), detailSize, nullptr, nullptr));
    EXPECT_EQ(P::GetLastError(), P::ErrorInvalidUserBuffer);
}

TEST_F(SimPlatform, OpenSetsLastErrorAndWinUsbTakesOnlyItsOwnHandles) {
    auto path = ZorekSim::DevicePath(0);
    P::Handle file = P::CreateFileW(path.c_str(), 0xC0000000, 3, nullptr, 3, 0x40000000, nullptr);
    EXPECT_EQ(P::GetLastError(), 0u);
    P::Handle missing = P::CreateFileW(u"\\\\?\\nothing", 0xC0000000, 3, nullptr, 3, 0x40000000, nullptr);
    EXPECT_EQ(missing, P::InvalidHandle);
    EXPECT_EQ(P::GetLastError(), P::ErrorFileNotFound);

    P::Handle usb = nullptr;
    EXPECT_FALSE(P::WinUsb_Initialize(missing, &usb));
    ASSERT_EQ(P::WinUsb_Initialize(file, &usb), 1);
    std::uint8_t packet[64] = {0x24};
    std::uint32_t n = 0;
    EXPECT_FALSE(P::WinUsb_WritePipe(usb, 0x81, packet, 64, &n, nullptr));
    EXPECT_TRUE(P::WinUsb_WritePipe(usb, 0x01, packet, 64, &n, nullptr));
    EXPECT_TRUE(P::WinUsb_ReadPipe(usb, 0x81, packet, 64, &n, nullptr));
    EXPECT_EQ(packet[0], 0x25);
    EXPECT_FALSE(P::WinUsb_WritePipe(nullptr, 0x01, packet, 64, &n, nullptr));
    EXPECT_TRUE(P::CloseHandle(file));
    EXPECT_TRUE(P::WinUsb_Free(usb));
    EXPECT_FALSE(P::WinUsb_Free(usb));
    EXPECT_EQ(ZorekSim::Open(), (ZorekSim::OpenResources{1, 0, 0, 0}));
}

class SimDeviceFaults : public ::testing::Test {
protected:
    void SetUp() override { ZorekSim::Reset(); }
    void TearDown() override { ZorekSim::Reset(); }
};

TEST_F(SimDeviceFaults, AFaultForOneDeviceLeavesTheOthersAlone) {
    ZorekSim::AddDevice();
    ZorekSim::AddDevice();
    ZorekSim::InjectFault({.call = ZorekSim::Call::CreateFile, .occurrence = 0, .error = 5, .device = 1});
    ZorekSim::InjectFault({.call = ZorekSim::Call::WinUsbInitialize, .occurrence = 0, .device = 0});
    std::int32_t flag = -1, id = -1;
    EXPECT_EQ(GetDeviceID(1, &flag, &id), 0);
    EXPECT_EQ(flag, 8);  // the open failed, and so did identification without an interface handle
    EXPECT_EQ(GetDeviceID(0, &flag, &id), 0);
    EXPECT_EQ(flag, 0);  // WinUSB initialisation failed
    EXPECT_EQ(GetDeviceID(1, &flag, &id), 0);
    EXPECT_EQ(flag, 8);  // every occurrence
    EXPECT_EQ(ZorekSim::Open(), ZorekSim::OpenResources{});
}

TEST_F(SimDeviceFaults, ACommandFaultHitsOnlyThatRequestsTransferAndCountsOnlyThose) {
    ZorekSim::AddDevice();
    ZorekSim::InjectFault({.call = ZorekSim::Call::WinUsbReadPipe,
                           .kind = ZorekSim::Fault::Kind::AccessViolation,
                           .occurrence = 2,
                           .command = std::uint8_t{0xD6}});
    std::int32_t flag = -1, t1 = -1, t2 = -1, t3 = -1, input = -1;
    EXPECT_EQ(GetExternalInput(0, &flag, &input), 1);  // the first status reply
    EXPECT_EQ(GetTemperature(0, &flag, &t1, &t2, &t3), 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(t1, -1);
    EXPECT_EQ(ZorekSim::CaughtFaults(), 1u);
    EXPECT_EQ(GetTemperature(0, &flag, &t1, &t2, &t3), 1);
}

TEST_F(SimDeviceFaults, BeforeAnswerHookShapesTheStateEachRequestSees) {
    ZorekSim::Device device;
    int requests = 0;
    device.beforeAnswer = [&requests](ZorekInstrument::State& state) {
        ++requests;
        state.temperatures[0] = static_cast<std::uint16_t>(1000 + requests);
    };
    ZorekSim::AddDevice(device);
    std::int32_t flag = -1, t1 = 0, t2 = 0, t3 = 0;
    ASSERT_EQ(GetTemperature(0, &flag, &t1, &t2, &t3), 1);
    EXPECT_EQ(t1, 1003);  // info, parameters, status
    ASSERT_EQ(GetTemperature(0, &flag, &t1, &t2, &t3), 1);
    EXPECT_EQ(t1, 1006);
}
