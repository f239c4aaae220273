// Discovery against Wine's SetupAPI: root devices registered with hardware-ID
// lists and interfaces of the instrument's class, the stand-in winusb.dll
// behind the ones that can be opened.
#include <climits>
#include <string>
#include <vector>

#include "wine_fixture.h"

namespace {

using DiscoveryTest = WineDeviceTest;

StandIn::Setup WithDeviceId(std::uint32_t id) {
    StandIn::Setup setup;
    setup.state.deviceId = id;
    return setup;
}

TEST_F(DiscoveryTest, AnInterfaceThatIsNotPresentIsNotCounted) {
    DeviceBench::Options hidden;
    hidden.present = false;
    int device = Add(hidden);
    ASSERT_GE(device, 0);
    std::int32_t flag = Sentinel, id = Sentinel;
    EXPECT_EQ(library.GetDeviceID(0, &flag, &id), 0);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(bench.Opens(device), 0);
}

TEST_F(DiscoveryTest, IndexesFromOnePastTheLastGiveStatus1) {
    int first = Add(), second = Add();
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    for (std::int32_t USBID : {2, 3, -1, INT_MIN, INT_MAX}) {
        std::int32_t flag = Sentinel, id = Sentinel;
        EXPECT_EQ(library.GetDeviceID(USBID, &flag, &id), 0) << USBID;
        EXPECT_EQ(flag, 1) << USBID;
        EXPECT_EQ(id, 0) << USBID;
    }
    EXPECT_EQ(bench.Opens(first) + bench.Opens(second), 0);
}

// Wine lists the interfaces in the order of the instance IDs, which the bench
// generates in the order it adds the devices; one that is not present takes
// no index.
TEST_F(DiscoveryTest, EachIndexReachesItsOwnDeviceInEnumerationOrder) {
    DeviceBench::Options hidden;
    hidden.present = false;
    int first = Add(WithDeviceId(0x1111));
    int absent = Add(hidden);
    int third = Add(WithDeviceId(0x80000003));
    ASSERT_GE(first, 0);
    ASSERT_GE(absent, 0);
    ASSERT_GE(third, 0);

    std::int32_t flag = Sentinel, id = Sentinel;
    EXPECT_EQ(library.GetDeviceID(1, &flag, &id), 1);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(id, static_cast<std::int32_t>(0x80000003));
    EXPECT_EQ(bench.Opens(first), 0);
    EXPECT_EQ(bench.Opens(third), 1);

    EXPECT_EQ(library.GetDeviceID(0, &flag, &id), 1);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(id, 0x1111);
    EXPECT_EQ(bench.Opens(first), 1);
    EXPECT_EQ(bench.Opens(third), 1);

    EXPECT_EQ(library.GetDeviceID(2, &flag, &id), 0);
    EXPECT_EQ(flag, 1);
    ExpectReleased(first);
    ExpectReleased(third);
}

struct HardwareIdCase {
    const char* name;
    std::vector<std::wstring> ids;
    bool matches;
};

class HardwareIdTest : public WineDeviceTest, public ::testing::WithParamInterface<HardwareIdCase> {};

// Only the first ID of the list counts, with letter case ignored; a device
// that fails the test is not opened.
TEST_P(HardwareIdTest, FirstHardwareIdDecides) {
    DeviceBench::Options options;
    options.hardwareIds = GetParam().ids;
    int device = Add(options, WithDeviceId(0x00C0FFEE));
    ASSERT_GE(device, 0);
    std::int32_t flag = Sentinel, id = Sentinel;
    std::int32_t result = library.GetDeviceID(0, &flag, &id);
    if (GetParam().matches) {
        EXPECT_EQ(result, 1);
        EXPECT_EQ(flag, 0);
        EXPECT_EQ(id, 0x00C0FFEE);
    } else {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(flag, 8);
        EXPECT_EQ(id, 0);
    }
    EXPECT_EQ(bench.Opens(device), GetParam().matches ? 1 : 0);
    EXPECT_EQ(Record(device).initializes, GetParam().matches ? 1 : 0);
    ExpectReleased(device);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, HardwareIdTest,
    ::testing::Values(
        HardwareIdCase{"CapitalsWithRevision", {L"USB\\VID_04D8&PID_00DF&REV_0100", L"USB\\VID_04D8&PID_00DF"}, true},
        HardwareIdCase{"LowerCase", {L"usb\\vid_04d8&pid_00df"}, true},
        HardwareIdCase{"MixedCase", {L"USB\\Vid_04d8&pId_00Df&Rev_0002"}, true},
        HardwareIdCase{"ForeignFirstMatchingLater",
                       {L"USB\\VID_1234&PID_5678&REV_0001", L"USB\\VID_04D8&PID_00DF&REV_0100"},
                       false},
        HardwareIdCase{"OtherProduct", {L"USB\\VID_04D8&PID_00DE&REV_0100"}, false},
        HardwareIdCase{"VendorOnly", {L"USB\\VID_04D8"}, false}),
    [](const ::testing::TestParamInfo<HardwareIdCase>& info) { return std::string(info.param.name); });

// A path that cannot be opened: no initialisation, the identification runs
// through the empty interface handle (two pipe calls the stand-in refuses)
// and the call ends with status 8.
TEST_F(DiscoveryTest, FailedOpenEndsWithStatus8WithoutInitialisation) {
    DeviceBench::Options unopenable;
    unopenable.pipeInstances = 0;
    int device = Add(unopenable);
    ASSERT_GE(device, 0);
    HANDLE probe = CreateFileW(bench.DevicePath(device).c_str(), GENERIC_READ | GENERIC_WRITE, 3, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    EXPECT_EQ(probe, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    std::int32_t flag = Sentinel, id = Sentinel;
    EXPECT_EQ(library.GetDeviceID(0, &flag, &id), 0);
    EXPECT_EQ(flag, 8);
    EXPECT_EQ(id, 0);
    StandIn::Totals totals = standIn.Totals();
    EXPECT_EQ(totals.initializes, 0);
    EXPECT_EQ(totals.invalidHandleCalls, 2);
}

// The same when the path exists but every instance of its pipe is taken.
TEST_F(DiscoveryTest, BusyDeviceEndsWithStatus8WithoutInitialisation) {
    DeviceBench::Options single;
    single.pipeInstances = 1;
    int device = Add(single);
    ASSERT_GE(device, 0);
    HANDLE taken = CreateFileW(bench.DevicePath(device).c_str(), GENERIC_READ | GENERIC_WRITE, 3, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(taken, INVALID_HANDLE_VALUE) << "error " << GetLastError();

    std::int32_t flag = Sentinel, temperature[3] = {Sentinel, Sentinel, Sentinel};
    EXPECT_EQ(library.GetTemperature(0, &flag, &temperature[0], &temperature[1], &temperature[2]), 0);
    EXPECT_EQ(flag, 8);
    EXPECT_EQ(temperature[0], Sentinel);
    EXPECT_EQ(standIn.Totals().initializes, 0);
    EXPECT_EQ(Record(device).writes, 0);
    CloseHandle(taken);
    ExpectReleased(device);
}

}  // namespace
