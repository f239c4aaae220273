// The bytes on the wire of every request and the decoding of every reply.
#include "sim_fixture.h"

using namespace ZorekSim;

namespace {

class Wire : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        device = AddDevice();
    }
    // Answers the command with these leading bytes.
    void Reply(std::uint8_t command, std::vector<std::uint8_t> bytes) {
        SetReply(device, command, {Reply::Kind::Bytes, std::move(bytes)});
    }
    ZorekSim::Packet LastRequest() { return Requests().back(); }
    int device = 0;
};

}  // namespace

TEST_F(Wire, IdentificationRequestsCarryOnlyTheirCommandByte) {
    std::int32_t flag, id;
    ASSERT_EQ(GetDeviceID(0, &flag, &id), 1);
    auto requests = Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], Bytes({0x20}));
    EXPECT_EQ(requests[1], Bytes({0x24}));
}

TEST_F(Wire, SetMainValueRequest) {
    struct Case {
        std::int32_t value, write;
        std::vector<std::uint8_t> bytes;  // 1 to 6
    };
    const Case cases[] = {
        {258, 0, {0x00, 0x00, 0x01, 0x02, 0x00, 0x00}},        {-2, 1, {0xFF, 0xFF, 0xFF, 0xFE, 0x00, 0x01}},
        {1, 7, {0x00, 0x00, 0x00, 0x01, 0x00, 0x01}},          {INT32_MIN, -1, {0x80, 0x00, 0x00, 0x00, 0x00, 0x01}},
        {0x12345678, 5, {0x12, 0x34, 0x56, 0x78, 0x00, 0x01}},
    };
    for (const auto& c : cases) {
        std::int32_t flag, protect = Sentinel;
        ASSERT_EQ(SetMainValue(0, &flag, c.value, c.write, &protect), 1);
        auto request = LastRequest();
        EXPECT_EQ(request[0], 0xD0);
        EXPECT_EQ(std::vector<std::uint8_t>(request.begin() + 1, request.begin() + 7), c.bytes) << c.value;
    }
}

TEST_F(Wire, MainValueRoundTripsThroughTheWriteValue) {
    for (std::int32_t value : {0, 1, 258, -2, 16777216, INT32_MIN, INT32_MAX}) {
        std::int32_t flag, protect, read = Sentinel, set = Sentinel;
        ASSERT_EQ(SetMainValue(0, &flag, value, 1, &protect), 1);
        ASSERT_EQ(GetWriteValue(0, &flag, &read, &set, &protect), 1);
        EXPECT_EQ(read, value);
        EXPECT_EQ(set, 1);
    }
}

TEST_F(Wire, OperationRequests) {
    std::int32_t flag, a, b, c;
    ASSERT_EQ(GetWriteValue(0, &flag, &a, &b, &c), 1);
    EXPECT_EQ(LastRequest(), Bytes({0xD2}));
    ASSERT_EQ(GetTemperature(0, &flag, &a, &b, &c), 1);
    auto temperature = LastRequest();
    EXPECT_EQ(temperature, Bytes({0xD6}));
    ASSERT_EQ(GetExternalInput(0, &flag, &a), 1);
    EXPECT_EQ(LastRequest(), temperature);
    for (auto [contrast, byte] : {std::pair{0, 0}, {40, 40}, {255, 255}, {256, 0}, {300, 44}, {-1, 255}}) {
        ASSERT_EQ(SetDisplay(0, &flag, contrast), 1);
        EXPECT_EQ(LastRequest(), Bytes({0xDA, 0x01, std::uint8_t(byte)})) << contrast;
    }
}

TEST_F(Wire, WriteValueReplyDecoding) {
    struct Case {
        std::vector<std::uint8_t> reply;
        std::int32_t value, protect, set;
    };
    const Case cases[] = {
        {{0xD3, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}, 1, 0, 0},
        {{0xD3, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}, 1 << 24, 0, 0},
        {{0xD3, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}, -1, 255, 0},
        {{0xD3, 0x00, 0x00, 0x00, 0x80, 0x01, 0xFF}, INT32_MIN, 1, 255},
        {{0xD3}, 0, 0, 0},
    };
    for (const auto& c : cases) {
        Reply(0xD2, c.reply);
        std::int32_t flag, value = Sentinel, set = Sentinel, protect = Sentinel;
        ASSERT_EQ(GetWriteValue(0, &flag, &value, &set, &protect), 1);
        EXPECT_EQ(std::vector<std::int32_t>({value, protect, set}),
                  std::vector<std::int32_t>({c.value, c.protect, c.set}));
    }
}

TEST_F(Wire, SetMainValueReplyGivesProtectState) {
    Reply(0xD0, {0xD1, 9, 9, 9, 9, 0xFE, 9});
    std::int32_t flag, protect = Sentinel;
    ASSERT_EQ(SetMainValue(0, &flag, 1, 1, &protect), 1);
    EXPECT_EQ(protect, 0xFE);
}

TEST_F(Wire, StatusReplyDecoding) {
    Reply(0xD6, {0xD7, 0x01, 0x02, 0xFF, 0xFF, 0x00, 0x01, 0x01});
    std::int32_t flag, t1 = Sentinel, t2 = Sentinel, t3 = Sentinel;
    ASSERT_EQ(GetTemperature(0, &flag, &t1, &t2, &t3), 1);
    EXPECT_EQ(std::vector<std::int32_t>({t1, t2, t3}), std::vector<std::int32_t>({513, 65535, 256}));
    for (auto [byte, input] : {std::pair{0x01, 1}, {0x00, 0}, {0x02, 0}, {0xFF, 0}}) {
        Reply(0xD6, {0xD7, 0, 0, 0, 0, 0, 0, std::uint8_t(byte)});
        std::int32_t value = Sentinel;
        ASSERT_EQ(GetExternalInput(0, &flag, &value), 1);
        EXPECT_EQ(value, input) << byte;
    }
}

TEST_F(Wire, RejectedRepliesLeaveOutputs) {
    for (std::vector<std::uint8_t> reply :
         {std::vector<std::uint8_t>{0xD6, 1, 2, 3, 4, 5, 6, 1}, std::vector<std::uint8_t>{0x00, 1, 2, 3, 4, 5, 6, 1},
          std::vector<std::uint8_t>{0xD8, 1, 2, 3, 4, 5, 6, 1}}) {
        Reply(0xD6, reply);
        std::int32_t flag, t1 = 11, t2 = 12, t3 = 13, input = 14;
        EXPECT_EQ(GetTemperature(0, &flag, &t1, &t2, &t3), 0);
        EXPECT_EQ(GetExternalInput(0, &flag, &input), 0);
        EXPECT_EQ(flag, 0);
        EXPECT_EQ(std::vector<std::int32_t>({t1, t2, t3, input}), std::vector<std::int32_t>({11, 12, 13, 14}));
    }
}

TEST_F(Wire, DeviceInfoAcceptance) {
    struct Case {
        std::vector<std::uint8_t> reply;
        std::int32_t status;
    };
    const Case cases[] = {
        {{0x21, 0x93, 0x01, 0x07}, 0}, {{0x21, 0x94, 0x01, 0x07}, 0}, {{0x21, 0x95, 0x01, 0x07}, 0},
        {{0x21, 0x92, 0x01, 0x07}, 5}, {{0x21, 0x96, 0x01, 0x07}, 5}, {{0x21, 0x00}, 5},
        {{0x20, 0x94, 0x01, 0x07}, 5}, {{0x25, 0x94, 0x01, 0x07}, 5}, {{0x21}, 5},
    };
    for (const auto& c : cases) {
        Reply(0x20, c.reply);
        std::int32_t flag = Sentinel, id = Sentinel;
        GetDeviceID(0, &flag, &id);
        EXPECT_EQ(flag, c.status) << int(c.reply[0]) << " " << (c.reply.size() > 1 ? int(c.reply[1]) : -1);
    }
}

TEST_F(Wire, FirmwareVersionIsBigEndianAndUnsigned) {
    for (auto [high, low, admitted] : {std::tuple{0x01, 0x06, false},
                                       {0x01, 0x07, true},
                                       {0x06, 0x01, true},
                                       {0xFF, 0xFF, true},
                                       {0x00, 0xFF, false}}) {
        Reply(0x20, {0x21, 0x94, std::uint8_t(high), std::uint8_t(low), 0xFF, 0x94, 0xFF});
        ClearCalls();
        std::int32_t flag;
        EXPECT_EQ(SetDisplay(0, &flag, 1), admitted ? 1 : 0) << high << " " << low;
        EXPECT_EQ(Requests().size(), admitted ? 3u : 2u);
    }
}

TEST_F(Wire, DeviceIdIsLittleEndianSigned) {
    struct Case {
        std::vector<std::uint8_t> bytes;
        std::int32_t id;
    };
    const Case cases[] = {
        {{1, 0, 0, 0}, 1}, {{0, 1, 0, 0}, 256}, {{0, 0, 0, 0x80}, INT32_MIN}, {{0xFF, 0xFF, 0xFF, 0xFF}, -1}};
    for (const auto& c : cases) {
        std::vector<std::uint8_t> reply(64, 0xEE);  // bytes after the fields change nothing
        reply[0] = 0x25;
        std::copy(c.bytes.begin(), c.bytes.end(), reply.begin() + 1);
        Reply(0x24, reply);
        std::int32_t flag, id = Sentinel;
        ASSERT_EQ(GetDeviceID(0, &flag, &id), 1);
        EXPECT_EQ(id, c.id);
    }
}

TEST_F(Wire, ShortReplyReadsAsZeros) {
    SetReply(device, 0xD2, {Reply::Kind::Short, {}, 1});
    std::int32_t flag, value = Sentinel, set = Sentinel, protect = Sentinel;
    ASSERT_EQ(GetWriteValue(0, &flag, &value, &set, &protect), 1);
    EXPECT_EQ(std::vector<std::int32_t>({value, set, protect}), std::vector<std::int32_t>(3, 0));
}
