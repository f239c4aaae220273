// The operation table: gates, and outputs written only on success.
#include "sim_fixture.h"

using namespace ZorekSim;

namespace {
class Operation : public SimTest, public ::testing::WithParamInterface<DeviceFunction> {};
}  // namespace

TEST_P(Operation, RejectedOperationKeepsTheCallersValues) {
    for (auto kind : {Reply::Kind::Echo, Reply::Kind::Stall, Reply::Kind::Empty}) {
        Reset();
        int device = AddDevice();
        SetReply(device, static_cast<std::uint8_t>(GetParam().replyCode - 1), {kind});
        Outcome outcome = Invoke(GetParam());
        EXPECT_EQ(outcome.result, 0);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.outputs, std::vector<std::int32_t>(GetParam().outputs, Sentinel));
        EXPECT_EQ(Count(Call::WinUsbWritePipe), 3u);
        ExpectNothingOpen();
    }
}

TEST_P(Operation, IdentificationFailureKeepsTheCallersValues) {
    int device = AddDevice();
    SetReply(device, 0x24, {Reply::Kind::Bytes, {0x21, 1, 2, 3, 4}});
    Outcome outcome = Invoke(GetParam());
    EXPECT_EQ(outcome.status, 6);
    EXPECT_EQ(outcome.outputs, std::vector<std::int32_t>(GetParam().outputs, Sentinel));
    EXPECT_EQ(Count(Call::WinUsbWritePipe), 2u);
}

INSTANTIATE_TEST_SUITE_P(DeviceFunctions, Operation, ::testing::ValuesIn(OperationFunctions()), FunctionName);

TEST_F(SimTest, PowerModeGate) {
    AddDevice();
    struct Case {
        std::int32_t mode;
        std::int32_t result;
        std::size_t exchanges;
        std::uint8_t modeByte;
    };
    for (const auto& c :
         {Case{3, 0, 2, 0}, Case{7, 0, 2, 0}, Case{INT32_MAX, 0, 2, 0}, Case{2, 1, 3, 0x02}, Case{0, 1, 3, 0x00},
          Case{-1, 1, 3, 0xFF}, Case{-254, 1, 3, 0x02}, Case{INT32_MIN, 1, 3, 0x00}}) {
        ClearCalls();
        std::int32_t flag = Sentinel;
        EXPECT_EQ(DevicePWR(0, &flag, c.mode), c.result) << c.mode;
        EXPECT_EQ(flag, 0);
        auto requests = Requests();
        ASSERT_EQ(requests.size(), c.exchanges) << c.mode;
        if (c.exchanges == 3) {
            EXPECT_EQ(requests[2][0], 0xD8);
            EXPECT_EQ(requests[2][1], c.modeByte) << c.mode;
            EXPECT_EQ(GetState(0).powerMode, c.modeByte);
        }
        ExpectNothingOpen();
    }
}

TEST_F(SimTest, PowerModeGateIsNotReachedWithoutDevice) {
    std::int32_t flag = Sentinel;
    EXPECT_EQ(DevicePWR(0, &flag, 7), 0);
    EXPECT_EQ(flag, 1);
}

TEST_F(SimTest, DisplayGateOnFirmwareVersion) {
    struct Case {
        std::uint16_t firmware;
        std::int32_t result;
        std::size_t exchanges;
    };
    for (const auto& c :
         {Case{0x0106, 0, 2}, Case{0x0001, 0, 2}, Case{0x0000, 0, 2}, Case{0x0107, 1, 3}, Case{0xFFFF, 1, 3}}) {
        Reset();
        Device d;
        d.state.firmwareVersion = c.firmware;
        AddDevice(d);
        std::int32_t flag = Sentinel;
        EXPECT_EQ(SetDisplay(0, &flag, 9), c.result) << c.firmware;
        EXPECT_EQ(flag, 0);
        EXPECT_EQ(Requests().size(), c.exchanges) << c.firmware;
        ExpectNothingOpen();
    }
}

TEST_F(SimTest, GetDeviceIdClearsItsOutputAtEntry) {
    std::int32_t flag = Sentinel, id = Sentinel;
    EXPECT_EQ(GetDeviceID(0, &flag, &id), 0);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(flag, 1);
    Device d;
    d.state.deviceId = 0xFFFFFFFF;
    AddDevice(d);
    EXPECT_EQ(GetDeviceID(0, &flag, &id), 1);
    EXPECT_EQ(id, -1);
    EXPECT_EQ(Requests().size(), 2u);
}

TEST_F(SimTest, InterfaceVersion) {
    EXPECT_EQ(GetInterfaceVersion(), 258);
    AddDevice();
    EXPECT_EQ(GetInterfaceVersion(), 258);
    EXPECT_TRUE(Calls().empty());
}
