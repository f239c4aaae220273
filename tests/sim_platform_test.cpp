// The simulated platform answers wrong calls as the real services do, so that
// a wrong argument in the library fails a test.
#include <gtest/gtest.h>

#include <cstring>

#include "device/discovery.h"
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
