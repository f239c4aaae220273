// The libusb platform's functions with the meaning the core relies on: the
// device set, the hardware-ID and detail queries, the open by path, the claim
// and the pipes, and the last-error code of each failure.
#include "platform/platform.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "usb_fixture.h"

namespace P = ZorekPlatform;

namespace {

constexpr P::Guid InterfaceClass = {0xA7814B47, 0x27C1, 0x11DD, {0xBD, 0x0B, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};
constexpr std::uint32_t ErrorBusy = 170;

std::vector<std::uint8_t> Utf16Bytes(const std::u16string& text) {
    std::vector<std::uint8_t> bytes;
    for (char16_t c : text)
        bytes.insert(bytes.end(), {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8)});
    return bytes;
}

// A device set of the instrument's interface class, destroyed with the object.
class Set {
public:
    Set()
        : handle_(
              P::SetupDiGetClassDevsW(&InterfaceClass, nullptr, nullptr, P::DigcfPresent | P::DigcfDeviceInterface)) {}
    ~Set() { P::SetupDiDestroyDeviceInfoList(handle_); }
    Set(const Set&) = delete;
    Set& operator=(const Set&) = delete;
    P::Handle handle() const { return handle_; }

    bool Interface(std::uint32_t index, P::DeviceInterfaceData& data) const {
        data = {};
        data.cbSize = sizeof data;
        return P::SetupDiEnumDeviceInterfaces(handle_, nullptr, &InterfaceClass, index, &data) != 0;
    }
    // The device path of the interface at index, by the two-call detail query.
    std::u16string Path(std::uint32_t index) const {
        P::DeviceInterfaceData data;
        if (!Interface(index, data)) return {};
        std::uint32_t size = 0;
        P::SetupDiGetDeviceInterfaceDetailW(handle_, &data, nullptr, 0, &size, nullptr);
        std::vector<std::uint8_t> detail(size);
        if (size < P::DetailFixedSize) return {};
        const std::uint32_t cbSize = P::DetailFixedSize;
        std::memcpy(detail.data(), &cbSize, sizeof cbSize);
        if (!P::SetupDiGetDeviceInterfaceDetailW(handle_, &data, detail.data(), size, nullptr, nullptr)) return {};
        std::u16string path((size - P::DetailPathOffset) / 2 - 1, u'\0');
        std::memcpy(path.data(), detail.data() + P::DetailPathOffset, path.size() * 2);
        return path;
    }

private:
    P::Handle handle_;
};

P::Handle Open(const std::u16string& path) {
    return P::CreateFileW(path.c_str(), P::GenericRead | P::GenericWrite, P::FileShareRead | P::FileShareWrite, nullptr,
                          P::OpenExisting, P::FileFlagOverlapped, nullptr);
}

std::string Narrow(const std::u16string& text) { return {text.begin(), text.end()}; }

class PlatformTest : public UsbTest {};

TEST_F(PlatformTest, EmptyBusGivesNoMoreItems) {
    AddHub(1, {2});
    Add({.bus = 1, .ports = {3}, .vendorId = 0x1209, .productId = 0x0002});  // someone else's device
    Set set;
    P::DeviceInterfaceData data;
    EXPECT_FALSE(set.Interface(0, data));
    EXPECT_EQ(P::GetLastError(), P::ErrorNoMoreItems);
    P::DevInfoData device{};
    device.cbSize = sizeof device;
    EXPECT_FALSE(P::SetupDiEnumDeviceInfo(set.handle(), 0, &device));
    EXPECT_EQ(P::GetLastError(), P::ErrorNoMoreItems);
}

TEST_F(PlatformTest, HardwareIdsComeInTwoCallsFromTheDeviceDescriptor) {
    Add({.bus = 1, .ports = {4}, .bcdDevice = 0x01A3});
    Set set;
    P::DevInfoData device{};
    device.cbSize = sizeof device;
    ASSERT_TRUE(P::SetupDiEnumDeviceInfo(set.handle(), 0, &device));

    const auto expected = Utf16Bytes(std::u16string(u"USB\\VID_04D8&PID_00DF&REV_01A3") + u'\0' +
                                     u"USB\\VID_04D8&PID_00DF" + u'\0' + u'\0');
    std::uint32_t type = 0, size = 0;
    EXPECT_FALSE(
        P::SetupDiGetDeviceRegistryPropertyW(set.handle(), &device, P::SpdrpHardwareId, &type, nullptr, 0, &size));
    EXPECT_EQ(P::GetLastError(), P::ErrorInsufficientBuffer);
    ASSERT_EQ(size, expected.size());

    std::vector<std::uint8_t> list(size, 0xCD);
    EXPECT_FALSE(P::SetupDiGetDeviceRegistryPropertyW(set.handle(), &device, P::SpdrpHardwareId, &type, list.data(),
                                                      size - 1, nullptr));
    EXPECT_EQ(P::GetLastError(), P::ErrorInsufficientBuffer);
    ASSERT_TRUE(P::SetupDiGetDeviceRegistryPropertyW(set.handle(), &device, P::SpdrpHardwareId, &type, list.data(),
                                                     size, nullptr));
    EXPECT_EQ(type, P::RegMultiSz);
    EXPECT_EQ(list, expected);
}

TEST_F(PlatformTest, SetIsOrderedByBusThenPortPathAndNamesThemInThePath) {
    AddInstrument(2, {1});
    AddInstrument(1, {10});
    AddHub(1, {2});
    AddInstrument(1, {2, 1});
    Add({.bus = 1, .ports = {3}, .vendorId = 0x1209, .productId = 0x0002});
    AddInstrument(1, {9});
    Set set;
    std::vector<std::string> paths;
    for (std::uint32_t i = 0; i < 4; ++i) paths.push_back(Narrow(set.Path(i)));
    EXPECT_EQ(paths, (std::vector<std::string>{"usb:1-2.1", "usb:1-9", "usb:1-10", "usb:2-1"}));
    P::DeviceInterfaceData data;
    EXPECT_FALSE(set.Interface(4, data));
    EXPECT_EQ(P::GetLastError(), P::ErrorNoMoreItems);
}

TEST_F(PlatformTest, DetailQueryReportsItsSizeAndChecksTheRecord) {
    AddInstrument(1, {2});
    Set set;
    P::DeviceInterfaceData data;
    ASSERT_TRUE(set.Interface(0, data));
    const std::uint32_t expected = P::DetailPathOffset + sizeof(u"usb:1-2");
    std::uint32_t size = 0;
    EXPECT_FALSE(P::SetupDiGetDeviceInterfaceDetailW(set.handle(), &data, nullptr, 0, &size, nullptr));
    EXPECT_EQ(P::GetLastError(), P::ErrorInsufficientBuffer);
    ASSERT_EQ(size, expected);

    std::vector<std::uint8_t> detail(size);
    for (std::uint32_t cbSize : {0u, 6u, 8u, 28u}) {
        if (cbSize == P::DetailFixedSize) continue;
        std::memcpy(detail.data(), &cbSize, sizeof cbSize);
        EXPECT_FALSE(P::SetupDiGetDeviceInterfaceDetailW(set.handle(), &data, detail.data(), size, nullptr, nullptr))
            << "cbSize " << cbSize;
        EXPECT_EQ(P::GetLastError(), P::ErrorInvalidUserBuffer);
    }
    EXPECT_EQ(Narrow(set.Path(0)), "usb:1-2");
}

TEST_F(PlatformTest, OpenFindsTheDeviceByItsPath) {
    AddInstrument(1, {3});
    int device = AddInstrument(1, {2});
    Set set;
    P::Handle file = Open(set.Path(0));
    ASSERT_NE(file, P::InvalidHandle);
    EXPECT_EQ(P::GetLastError(), P::ErrorSuccess);
    EXPECT_EQ(bus.Seen(device).opens, 1);
    EXPECT_TRUE(P::CloseHandle(file));
    EXPECT_TRUE(bus.WaitUntilClosed());
    EXPECT_EQ(bus.Seen(device).closes, 1);
}

TEST_F(PlatformTest, OpenOfAPathWithoutTheDeviceFailsWithFileNotFound) {
    AddInstrument(1, {2});
    Add({.bus = 1, .ports = {3}, .vendorId = 0x1209, .productId = 0x0002});
    for (const char16_t* path : {u"usb:1-4", u"usb:1-3", u"usb:2-2", u"usb:1-2.1", u"usb:1-2x", u"usb:1-", u"usb:0-2",
                                 u"usb:1-256", u"1-2", u""}) {
        EXPECT_EQ(Open(path), P::InvalidHandle) << Narrow(path);
        EXPECT_EQ(P::GetLastError(), P::ErrorFileNotFound) << Narrow(path);
    }
}

TEST_F(PlatformTest, DeviceUnpluggedAfterEnumerationIsNotFound) {
    int device = AddInstrument(1, {2});
    Set set;
    std::u16string path = set.Path(0);
    ASSERT_FALSE(path.empty());
    bus.Remove(device);
    EXPECT_EQ(Open(path), P::InvalidHandle);
    EXPECT_EQ(P::GetLastError(), P::ErrorFileNotFound);
}

TEST_F(PlatformTest, ClaimPipesAndReleaseInTheCoresOrder) {
    int device = AddInstrument(1, {2}, 0xCAFE0001);
    Set set;
    P::Handle file = Open(set.Path(0));
    ASSERT_EQ(P::GetLastError(), P::ErrorSuccess);
    P::Handle interface = nullptr;
    ASSERT_EQ(P::WinUsb_Initialize(file, &interface), 1);
    ASSERT_NE(interface, nullptr);
    EXPECT_TRUE(bus.Seen(device).claimed);

    std::uint32_t timeout = 1000;
    EXPECT_TRUE(P::WinUsb_SetPipePolicy(interface, 0x01, P::PipeTransferTimeout, sizeof timeout, &timeout));
    EXPECT_TRUE(P::WinUsb_SetPipePolicy(interface, 0x81, P::PipeTransferTimeout, sizeof timeout, &timeout));
    EXPECT_FALSE(P::WinUsb_SetPipePolicy(interface, 0x02, P::PipeTransferTimeout, sizeof timeout, &timeout));
    EXPECT_EQ(P::GetLastError(), P::ErrorInvalidParameter);

    ZorekUsb::Packet request{ZorekInstrument::DeviceParamCommand}, reply{};
    std::uint32_t written = 0, read = 0;
    ASSERT_TRUE(P::WinUsb_WritePipe(interface, 0x01, request.data(), 64, &written, nullptr));
    EXPECT_EQ(written, 64u);
    ASSERT_TRUE(P::WinUsb_ReadPipe(interface, 0x81, reply.data(), 64, &read, nullptr));
    EXPECT_EQ(read, 64u);
    auto state = bus.State(device);
    EXPECT_EQ(reply, *ZorekInstrument::Answer(state, request));
    EXPECT_EQ(bus.Seen(device).requests, std::vector<ZorekUsb::Packet>{request});

    // Pipes in the wrong direction, and overlapped transfers, are refused.
    EXPECT_FALSE(P::WinUsb_WritePipe(interface, 0x81, request.data(), 64, &written, nullptr));
    EXPECT_EQ(P::GetLastError(), P::ErrorInvalidParameter);
    EXPECT_FALSE(P::WinUsb_ReadPipe(interface, 0x01, reply.data(), 64, &read, nullptr));
    EXPECT_EQ(P::GetLastError(), P::ErrorInvalidParameter);
    int overlapped = 0;
    EXPECT_FALSE(P::WinUsb_ReadPipe(interface, 0x81, reply.data(), 64, &read, &overlapped));
    EXPECT_EQ(P::GetLastError(), P::ErrorInvalidParameter);
    EXPECT_EQ(bus.Seen(device).requests.size(), 1u);

    // The core closes the file first; the interface keeps the device open
    // until it is freed, and the free releases the claim.
    EXPECT_TRUE(P::CloseHandle(file));
    EXPECT_TRUE(bus.Seen(device).claimed);
    EXPECT_EQ(bus.Seen(device).closes, 0);
    EXPECT_TRUE(P::WinUsb_Free(interface));
    EXPECT_EQ(bus.Seen(device).releases, 1);
    EXPECT_TRUE(bus.WaitUntilClosed());
    EXPECT_FALSE(P::WinUsb_Free(interface));
    EXPECT_EQ(P::GetLastError(), P::ErrorInvalidHandle);
}

TEST_F(PlatformTest, ReadFailsWithSemTimeoutAfterThePipeTimeout) {
    int device = AddInstrument(1, {2});
    bus.SetSilent(device, true);
    Set set;
    P::Handle file = Open(set.Path(0));
    P::Handle interface = nullptr;
    ASSERT_EQ(P::WinUsb_Initialize(file, &interface), 1);
    std::uint32_t timeout = 50;
    ASSERT_TRUE(P::WinUsb_SetPipePolicy(interface, 0x81, P::PipeTransferTimeout, sizeof timeout, &timeout));
    ZorekUsb::Packet request{ZorekInstrument::DeviceInfoCommand}, reply{};
    std::uint32_t written = 0, read = 99;
    ASSERT_TRUE(P::WinUsb_WritePipe(interface, 0x01, request.data(), 64, &written, nullptr));
    EXPECT_FALSE(P::WinUsb_ReadPipe(interface, 0x81, reply.data(), 64, &read, nullptr));
    EXPECT_EQ(P::GetLastError(), P::ErrorSemTimeout);
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(bus.Seen(device).discards, 1);

    // The device answers again: the next exchange gets its own reply.
    bus.SetSilent(device, false);
    ASSERT_TRUE(P::WinUsb_WritePipe(interface, 0x01, request.data(), 64, &written, nullptr));
    ASSERT_TRUE(P::WinUsb_ReadPipe(interface, 0x81, reply.data(), 64, &read, nullptr));
    EXPECT_EQ(reply[0], ZorekInstrument::DeviceInfoCommand + 1);
    EXPECT_TRUE(P::CloseHandle(file));
    EXPECT_TRUE(P::WinUsb_Free(interface));
}

struct RefusedClaim {
    int error;
    std::uint32_t expected;
};

class RefusedClaimTest : public UsbTest, public ::testing::WithParamInterface<RefusedClaim> {};

TEST_P(RefusedClaimTest, InitializeFailsWithTheMappedCode) {
    int device = AddInstrument(1, {2});
    bus.SetClaimError(device, GetParam().error);
    Set set;
    P::Handle file = Open(set.Path(0));
    ASSERT_EQ(P::GetLastError(), P::ErrorSuccess);
    P::Handle interface = nullptr;
    EXPECT_EQ(P::WinUsb_Initialize(file, &interface), 0);
    EXPECT_EQ(P::GetLastError(), GetParam().expected);
    EXPECT_EQ(interface, nullptr);
    EXPECT_EQ(bus.Seen(device).refusedClaims, 1);
    EXPECT_TRUE(P::CloseHandle(file));
}

INSTANTIATE_TEST_SUITE_P(Errors, RefusedClaimTest,
                         ::testing::Values(RefusedClaim{EBUSY, ErrorBusy}, RefusedClaim{ENODEV, P::ErrorFileNotFound},
                                           RefusedClaim{EINVAL, P::ErrorInvalidParameter}));

TEST_F(PlatformTest, UnknownHandlesAreRefused) {
    std::uint8_t packet[64] = {};
    std::uint32_t count = 0;
    P::DeviceInterfaceData data{};
    data.cbSize = sizeof data;
    P::Handle interface = nullptr;
    int local = 0;
    for (P::Handle handle : {P::Handle{nullptr}, P::InvalidHandle, P::Handle{&local}}) {
        EXPECT_FALSE(P::SetupDiEnumDeviceInterfaces(handle, nullptr, &InterfaceClass, 0, &data));
        EXPECT_EQ(P::GetLastError(), P::ErrorInvalidHandle);
        EXPECT_FALSE(P::WinUsb_Initialize(handle, &interface));
        EXPECT_EQ(P::GetLastError(), P::ErrorInvalidHandle);
        EXPECT_FALSE(P::WinUsb_WritePipe(handle, 0x01, packet, 64, &count, nullptr));
        EXPECT_EQ(P::GetLastError(), P::ErrorInvalidHandle);
        EXPECT_FALSE(P::WinUsb_ReadPipe(handle, 0x81, packet, 64, &count, nullptr));
        EXPECT_EQ(P::GetLastError(), P::ErrorInvalidHandle);
        EXPECT_FALSE(P::CloseHandle(handle));
        EXPECT_EQ(P::GetLastError(), P::ErrorInvalidHandle);
        EXPECT_FALSE(P::SetupDiDestroyDeviceInfoList(handle));
        EXPECT_EQ(P::GetLastError(), P::ErrorInvalidHandle);
    }
    EXPECT_EQ(count, 0u);
}

TEST_F(PlatformTest, LastErrorBelongsToTheCallingThread) {
    AddInstrument(1, {2});
    Set set;
    P::DeviceInterfaceData data;
    ASSERT_FALSE(set.Interface(1, data));
    std::uint32_t other = 0;
    std::thread([&] {
        P::Handle file = Open(set.Path(0));
        other = P::GetLastError();
        P::CloseHandle(file);
    }).join();
    EXPECT_EQ(other, P::ErrorSuccess);
    EXPECT_EQ(P::GetLastError(), P::ErrorNoMoreItems);
}

}  // namespace
