// Every status code, for every device function, with everything released.
#include "device/discovery.h"
#include "protocol/exchange.h"
#include "sim_fixture.h"

using namespace ZorekSim;

namespace {

struct StatusCase {
    std::string name;
    std::function<void()> arrange;
    std::int32_t status;
    OpenResources left;  // what stays open: nothing, except where the close failed
};

Fault FailAt(Call call, int occurrence = 1, std::uint32_t error = ZorekPlatform::ErrorGenFailure) {
    return Fault{call, Fault::Kind::Fail, occurrence, 0, error};
}

Fault DeliverAt(int occurrence, ZorekSim::Packet packet) {
    Fault fault{Call::WinUsbReadPipe, Fault::Kind::Deliver, occurrence};
    fault.bytes.assign(packet.begin(), packet.end());
    return fault;
}

std::vector<StatusCase> StatusCases() {
    return {
        {"NoDevice", [] {}, 1, {}},
        {"PastTheLast", [] { AddDevice(); }, 1, {}},  // run at index 1
        {"EnumerationError",
         [] {
             AddDevice();
             InjectFault(FailAt(Call::SetupDiEnumDeviceInterfaces, 1, 5));
         },
         2,
         {}},
        {"InvalidSet",
         [] {
             AddDevice();
             InjectFault(FailAt(Call::SetupDiGetClassDevs, 1, 5));
         },
         2,
         {}},
        {"NoIdBuffer",
         [] {
             AddDevice();
             InjectFault(FailAt(Call::HeapAlloc, 1, 8));
         },
         3,
         {}},
        {"NoDetailRecord",
         [] {
             AddDevice();
             InjectFault(FailAt(Call::HeapAlloc, 2, 8));
         },
         4,
         {}},
        {"InfoRejected", [] { SetReply(AddDevice(), 0x20, {Reply::Kind::Echo}); }, 5, {}},
        {"ParamRejected", [] { SetReply(AddDevice(), 0x24, {Reply::Kind::Stall}); }, 6, {}},
        {"ForeignDevice",
         [] {
             Device d;
             d.hardwareIds = {u"USB\\VID_1234&PID_5678"};
             AddDevice(d);
         },
         8,
         {}},
        {"OpenFailed",
         [] {
             AddDevice();
             InjectFault(FailAt(Call::CreateFile, 1, 2));
         },
         8,
         {}},
        {"OpenFailedThenInfoOnly",
         [] {
             AddDevice();
             InjectFault(FailAt(Call::CreateFile, 1, 2));
             InjectFault(DeliverAt(1, Bytes({0x21, 0x94, 0x01, 0x07})));
         },
         9,
         {}},
    };
}

class Status : public SimTest, public ::testing::WithParamInterface<DeviceFunction> {};

}  // namespace

TEST_P(Status, EachCodeWithResultZeroAndNothingLeftOpen) {
    for (const auto& c : StatusCases()) {
        SCOPED_TRACE(c.name);
        Reset();
        c.arrange();
        Outcome outcome = Invoke(GetParam(), c.name == "PastTheLast" ? 1 : 0);
        EXPECT_EQ(outcome.result, 0);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(Open(), c.left);
        EXPECT_EQ(outcome.outputs, UntouchedOutputs(GetParam()));
        EXPECT_EQ(Count(Call::SetupDiDestroyDeviceInfoList), 1u);
        EXPECT_FALSE(ZorekInterface::TRB.load());
    }
}

TEST_P(Status, SuccessIsResultOneWithStatusZero) {
    AddDevice();
    Outcome outcome = Invoke(GetParam());
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(Count(Call::WinUsbWritePipe), GetParam().exchanges);
    ExpectNothingOpen();
}

// Status 7 stays only when both identification requests succeed although the
// open reported an error; the operation then decides the result.
TEST_P(Status, OpenErrorWithIdentificationKeepsSeven) {
    AddDevice();
    InjectFault(FailAt(Call::CreateFile, 1, 2));
    InjectFault(DeliverAt(1, Bytes({0x21, 0x94, 0x01, 0x07})));
    InjectFault(DeliverAt(2, Bytes({0x25, 7})));
    if (GetParam().replyCode != 0) InjectFault(DeliverAt(3, Bytes({GetParam().replyCode})));
    Outcome outcome = Invoke(GetParam());
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.status, 7);
    EXPECT_EQ(Count(Call::WinUsbInitialize), 0u);
    ExpectNothingOpen();
}

TEST_P(Status, FailedInitialisationIsResultZeroStatusZero) {
    for (std::int32_t returned : {0, 2, -1}) {
        SCOPED_TRACE(returned);
        Reset();
        AddDevice();
        InjectFault(Fault{Call::WinUsbInitialize, Fault::Kind::Fail, 1, returned});
        Outcome outcome = Invoke(GetParam());
        EXPECT_EQ(outcome.result, 0);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(Count(Call::WinUsbWritePipe), 0u);
        EXPECT_EQ(Count(Call::WinUsbFree), 0u);
        EXPECT_EQ(Count(Call::CloseHandle), 1u);
        ExpectNothingOpen();
    }
}

INSTANTIATE_TEST_SUITE_P(DeviceFunctions, Status, ::testing::ValuesIn(DeviceFunctions()), FunctionName);

TEST_F(SimTest, InvalidSetIsStillDestroyed) {
    AddDevice();
    InjectFault(FailAt(Call::SetupDiGetClassDevs, 1, 5));
    std::int32_t flag = -1, id = -1;
    EXPECT_EQ(GetDeviceID(0, &flag, &id), 0);
    EXPECT_EQ(flag, 2);
    auto calls = Calls();
    ASSERT_EQ(calls.back().call, Call::SetupDiDestroyDeviceInfoList);
    EXPECT_EQ(calls.back().args[0], reinterpret_cast<std::uintptr_t>(ZorekPlatform::InvalidHandle));
}

TEST_F(SimTest, IndicesPastTheEndAreStatusOne) {
    AddDevice();
    AddDevice();
    for (std::int32_t index : {2, 3, 1000, -1, INT32_MIN}) {
        std::int32_t flag = -1, id = 99;
        EXPECT_EQ(GetDeviceID(index, &flag, &id), 0);
        EXPECT_EQ(flag, 1) << index;
        EXPECT_EQ(id, 0);
    }
    // The index reaches the platform bit for bit.
    EXPECT_EQ(Calls()[Calls().size() - 3].args[3], 0x80000000u);
}

TEST_F(SimTest, TwoDevicesAreReachedByIndexInEnumerationOrder) {
    Device a, b;
    a.state.deviceId = 111;
    b.state.deviceId = 222;
    AddDevice(a);
    AddDevice(b);
    std::int32_t flag = -1, id = 0;
    EXPECT_EQ(GetDeviceID(0, &flag, &id), 1);
    EXPECT_EQ(id, 111);
    EXPECT_EQ(GetDeviceID(1, &flag, &id), 1);
    EXPECT_EQ(id, 222);
}

TEST_F(SimTest, HardwareIdMatching) {
    struct Case {
        std::vector<std::u16string> ids;
        std::int32_t status;
    };
    const Case cases[] = {
        {{u"USB\\VID_04D8&PID_00DF&REV_0100"}, 0},
        {{u"usb\\vid_04d8&pid_00df"}, 0},
        {{u"USB\\Vid_04D8&PiD_00dF&MI_00"}, 0},
        {{u"vid_04d8&pid_00df"}, 0},
        {{u"USB\\VID_04D8&PID_00DE"}, 8},
        {{u"USB\\VID_04D8_PID_00DF"}, 8},
        {{u"USB\\VID_1234&PID_0001", u"USB\\VID_04D8&PID_00DF"}, 8},
        {{u"USB\\VID_04D\u00C88&PID_00DF"}, 8},
        {{}, 8},
        {{u""}, 8},
    };
    for (const auto& c : cases) {
        Reset();
        Device d;
        d.hardwareIds = c.ids;
        AddDevice(d);
        std::int32_t flag = -1, id = 0;
        GetDeviceID(0, &flag, &id);
        EXPECT_EQ(flag, c.status) << (c.ids.empty() ? "(none)" : std::string(c.ids[0].begin(), c.ids[0].end()));
        if (c.status == 8) {
            EXPECT_EQ(Count(Call::CreateFile), 0u);
            EXPECT_EQ(Count(Call::SetupDiGetDeviceInterfaceDetail), 0u);
        }
        ExpectNothingOpen();
    }
}

// Lists and records that would lead outside a buffer are unusable results.
TEST_F(SimTest, UnterminatedOrUndersizedPlatformDataIsRejected) {
    auto id = [](std::u16string text) {
        std::vector<std::uint8_t> bytes;
        for (char16_t c : text) bytes.insert(bytes.end(), {std::uint8_t(c), std::uint8_t(c >> 8)});
        return bytes;
    };
    struct Case {
        std::string name;
        std::function<void()> arrange;
        std::int32_t status;
    };
    const Case cases[] = {
        {"IdWithoutNul",
         [&] {
             Device d;
             d.hardwareIdBytes = id(u"USB\\VID_04D8&PID_00DF");
             AddDevice(d);
         },
         8},
        {"IdOddLength",
         [&] {
             Device d;
             auto b = id(u"VID_04D8&PID_00DF");
             b.push_back(0);
             d.hardwareIdBytes = b;
             AddDevice(d);
         },
         8},
        {"IdListEmpty",
         [&] {
             Device d;
             d.hardwareIdBytes = std::vector<std::uint8_t>{};
             AddDevice(d);
         },
         8},
        {"IdSizeZero",
         [] {
             AddDevice();
             InjectFault({Call::SetupDiGetDeviceRegistryProperty, Fault::Kind::ReportSize, 1, 0, 0, 0});
         },
         8},
        {"IdSizeShort",
         [] {
             AddDevice();
             InjectFault({Call::SetupDiGetDeviceRegistryProperty, Fault::Kind::ReportSize, 1, 0, 0, 10});
         },
         8},
        {"IdFillFails",
         [] {
             AddDevice();
             InjectFault(FailAt(Call::SetupDiGetDeviceRegistryProperty, 2));
         },
         8},
        {"PathWithoutNul",
         [&] {
             Device d;
             d.pathBytes = id(u"\\\\?\\usb#x");
             AddDevice(d);
         },
         4},
        {"DetailSizeZero",
         [] {
             AddDevice();
             InjectFault({Call::SetupDiGetDeviceInterfaceDetail, Fault::Kind::ReportSize, 1, 0, 0, 0});
         },
         4},
        {"DetailSizeUnderFixedPart",
         [] {
             AddDevice();
             InjectFault({Call::SetupDiGetDeviceInterfaceDetail, Fault::Kind::ReportSize, 1, 0, 0,
                          ZorekPlatform::DetailFixedSize - 1});
         },
         4},
        {"DetailFillFails",
         [] {
             AddDevice();
             InjectFault(FailAt(Call::SetupDiGetDeviceInterfaceDetail, 2));
         },
         4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        c.arrange();
        std::int32_t flag = -1, deviceId = -1;
        EXPECT_EQ(GetDeviceID(0, &flag, &deviceId), 0);
        EXPECT_EQ(flag, c.status);
        EXPECT_EQ(Count(Call::CreateFile), 0u);
        ExpectNothingOpen();
    }
}

TEST_F(SimTest, NullPointersTouchNoDevice) {
    AddDevice();
    std::int32_t a = Sentinel, b = Sentinel, c = Sentinel;
    struct Case {
        std::string name;
        std::function<std::int32_t(std::int32_t*)> call;  // given the USBFlag pointer
    };
    const Case cases[] = {
        {"GetDeviceID", [](std::int32_t* flag) { return GetDeviceID(0, flag, nullptr); }},
        {"GetWriteValue.value", [&](std::int32_t* flag) { return GetWriteValue(0, flag, nullptr, &b, &c); }},
        {"GetWriteValue.set", [&](std::int32_t* flag) { return GetWriteValue(0, flag, &a, nullptr, &c); }},
        {"GetWriteValue.protectState", [&](std::int32_t* flag) { return GetWriteValue(0, flag, &a, &b, nullptr); }},
        {"GetTemperature.tmp1", [&](std::int32_t* flag) { return GetTemperature(0, flag, nullptr, &b, &c); }},
        {"GetTemperature.tmp2", [&](std::int32_t* flag) { return GetTemperature(0, flag, &a, nullptr, &c); }},
        {"GetTemperature.tmp3", [&](std::int32_t* flag) { return GetTemperature(0, flag, &a, &b, nullptr); }},
        {"GetExternalInput", [](std::int32_t* flag) { return GetExternalInput(0, flag, nullptr); }},
        {"SetMainValue", [](std::int32_t* flag) { return SetMainValue(0, flag, 5, 1, nullptr); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClearCalls();
        std::int32_t flag = Sentinel;
        EXPECT_EQ(c.call(&flag), 0);
        EXPECT_EQ(flag, 0);
        EXPECT_TRUE(Calls().empty());
    }
    EXPECT_EQ(std::vector<std::int32_t>({a, b, c}), std::vector<std::int32_t>(3, Sentinel));

    // A null USBFlag: nothing is written, the device is not touched.
    ClearCalls();
    std::int32_t id = Sentinel;
    EXPECT_EQ(GetDeviceID(0, nullptr, &id), 0);
    EXPECT_EQ(id, 0);  // cleared at entry, as on every call
    for (const auto& f : DeviceFunctions()) EXPECT_EQ(Invoke(f).result, 1) << f.name;  // still works afterwards
    ClearCalls();
    EXPECT_EQ(GetWriteValue(0, nullptr, &a, &b, &c), 0);
    EXPECT_EQ(GetTemperature(0, nullptr, &a, &b, &c), 0);
    EXPECT_EQ(GetExternalInput(0, nullptr, &a), 0);
    EXPECT_EQ(DevicePWR(0, nullptr, 1), 0);
    EXPECT_EQ(SetDisplay(0, nullptr, 1), 0);
    EXPECT_EQ(SetMainValue(0, nullptr, 1, 1, &a), 0);
    EXPECT_TRUE(Calls().empty());
}
