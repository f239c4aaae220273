#include "instrument/instrument.h"

#include <gtest/gtest.h>

using namespace ZorekInstrument;

namespace {
Packet Request(std::initializer_list<std::uint8_t> leading) {
    Packet packet{};
    std::copy(leading.begin(), leading.end(), packet.begin());
    return packet;
}
}  // namespace

TEST(Instrument, MainValueComesBackInTheWriteValueByteOrder) {
    State state;
    state.protectState = 0x7F;
    auto set = Answer(state, Request({0xD0, 0x12, 0x34, 0x56, 0x78, 0x00, 0x01}));
    ASSERT_TRUE(set);
    EXPECT_EQ((*set)[0], 0xD1);
    EXPECT_EQ((*set)[5], 0x7F);
    EXPECT_EQ(state.mainValue, 0x12345678);
    auto read = Answer(state, Request({0xD2}));
    ASSERT_TRUE(read);
    EXPECT_EQ(std::vector<int>(read->begin(), read->begin() + 7),
              (std::vector<int>{0xD3, 0x78, 0x56, 0x34, 0x12, 0x7F, 0x01}));
}

TEST(Instrument, IdentificationFieldsInTheirByteOrders) {
    State state;
    state.deviceCode = 0x95;
    state.firmwareVersion = 0x0107;
    state.nameCode = 3;
    state.byte5 = 0x93;
    state.typeCode = 9;
    state.deviceId = 0x80000001;
    state.deviceNumStart = 0x01020304;
    state.deviceTimeAtConnect = 0xFFFFFFFE;
    auto info = *Answer(state, Request({0x20}));
    EXPECT_EQ(std::vector<int>(info.begin(), info.begin() + 7), (std::vector<int>{0x21, 0x95, 0x01, 0x07, 3, 0x93, 9}));
    auto param = *Answer(state, Request({0x24}));
    EXPECT_EQ(std::vector<int>(param.begin(), param.begin() + 13),
              (std::vector<int>{0x25, 0x01, 0, 0, 0x80, 0x04, 0x03, 0x02, 0x01, 0xFE, 0xFF, 0xFF, 0xFF}));
}

TEST(Instrument, StatusMenuAndDisplay) {
    State state;
    state.temperatures = {0x0201, 0xFFFF, 0x0100};
    state.externalInput = 1;
    auto status = *Answer(state, Request({0xD6}));
    EXPECT_EQ(std::vector<int>(status.begin(), status.begin() + 8),
              (std::vector<int>{0xD7, 0x01, 0x02, 0xFF, 0xFF, 0x00, 0x01, 0x01}));
    EXPECT_EQ((*Answer(state, Request({0xD8, 0xFF})))[0], 0xD9);
    EXPECT_EQ(state.powerMode, 0xFF);
    EXPECT_EQ((*Answer(state, Request({0xDA, 0x01, 44})))[0], 0xDB);
    EXPECT_EQ(state.contrast, 44);
    EXPECT_EQ(state.displaySelect, 1);
}

TEST(Instrument, UnknownCommandsGetNoReply) {
    State state;
    for (int command : {0x00, 0x21, 0x22, 0xD4, 0xFF}) EXPECT_FALSE(Answer(state, Request({std::uint8_t(command)})));
}
