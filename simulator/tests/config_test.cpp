// The configuration loader: what a file gives, and how each kind of bad file
// is reported.
#include "simulator/config.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

using ZorekSim::Call;
using ZorekSim::Fault;
using ZorekSim::Reply;
using ZorekSimConfig::Config;
using ZorekSimConfig::Error;

namespace {

Config Parsed(std::string_view text) {
    auto result = ZorekSimConfig::Parse(text);
    if (const auto* error = std::get_if<Error>(&result)) {
        ADD_FAILURE() << "rejected: " << error->key << ": " << error->message;
        return {};
    }
    return std::get<Config>(result);
}

Error Rejected(std::string_view text) {
    auto result = ZorekSimConfig::Parse(text);
    if (const auto* error = std::get_if<Error>(&result)) return *error;
    ADD_FAILURE() << "accepted: " << text;
    return {};
}

std::filesystem::path TempFile(const std::string& name, std::string_view content) {
    auto path = std::filesystem::temp_directory_path() / ("zorek-config-test-" + std::to_string(::getpid()) + name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

}  // namespace

TEST(SimConfig, EveryFieldOfADevice) {
    Config config = Parsed(R"({
      // a full device
      "devices": [{
        "hardwareIds": ["USB\\VID_04D8&PID_00DF&REV_0200", "USB\\VID_04D8&PID_00DF"],
        "present": false,
        "identification": {"deviceCode": "0x95", "firmwareVersion": 262, "nameCode": 7, "byte5": 147,
                           "typeCode": "0X0A", "deviceId": -1, "deviceNumStart": 4294967295,
                           "deviceTimeAtConnect": "0x80000000"},
        "state": {"mainValue": -2, "protectState": 255, "setFlag": 1, "temperatures": [0, 65535, "0x1234"],
                  "externalInput": 1, "powerMode": 2, "displaySelect": 1, "contrast": 44},
        "drift": 25,
        "latencyMs": 2.5,
        "replies": {
          "status": {"kind": "bytes", "bytes": [215, 1, 2, "0xFF"]},
          "0xDA": "echo",
          "36": "none",
          "info": {"kind": "short", "length": 3},
          "menu": "stall",
          "write-value": {"kind": "empty"},
          "set-main-value": "normal"
        },
        "faults": [
          {"kind": "open-error", "error": 2, "occurrence": 3},
          {"kind": "init-failure"},
          {"kind": "access-violation", "pipe": "write", "command": "set-main-value"},
          {"kind": "access-violation", "command": 214}
        ]
      }]
    })");
    ASSERT_EQ(config.devices.size(), 1u);
    const auto& entry = config.devices[0];
    const auto& device = entry.device;
    EXPECT_EQ(device.hardwareIds,
              (std::vector<std::u16string>{u"USB\\VID_04D8&PID_00DF&REV_0200", u"USB\\VID_04D8&PID_00DF"}));
    EXPECT_FALSE(device.present);
    const auto& s = device.state;
    EXPECT_EQ(s.deviceCode, 0x95);
    EXPECT_EQ(s.firmwareVersion, 262);
    EXPECT_EQ(s.nameCode, 7);
    EXPECT_EQ(s.byte5, 147);
    EXPECT_EQ(s.typeCode, 10);
    EXPECT_EQ(s.deviceId, 0xFFFFFFFFu);
    EXPECT_EQ(s.deviceNumStart, 0xFFFFFFFFu);
    EXPECT_EQ(s.deviceTimeAtConnect, 0x80000000u);
    EXPECT_EQ(s.mainValue, -2);
    EXPECT_EQ(s.protectState, 255);
    EXPECT_EQ(s.setFlag, 1);
    EXPECT_EQ(s.temperatures, (std::array<std::uint16_t, 3>{0, 65535, 0x1234}));
    EXPECT_EQ(s.externalInput, 1);
    EXPECT_EQ(s.powerMode, 2);
    EXPECT_EQ(s.displaySelect, 1);
    EXPECT_EQ(s.contrast, 44);
    EXPECT_EQ(entry.drift, 25);
    EXPECT_EQ(device.latency, std::chrono::microseconds(2500));

    ASSERT_EQ(device.replies.size(), 7u);
    EXPECT_EQ(device.replies.at(0xD6).kind, Reply::Kind::Bytes);
    EXPECT_EQ(device.replies.at(0xD6).bytes, (std::vector<std::uint8_t>{215, 1, 2, 255}));
    EXPECT_EQ(device.replies.at(0xDA).kind, Reply::Kind::Echo);
    EXPECT_EQ(device.replies.at(0x24).kind, Reply::Kind::Silent);
    EXPECT_EQ(device.replies.at(0x20).kind, Reply::Kind::Short);
    EXPECT_EQ(device.replies.at(0x20).length, 3u);
    EXPECT_EQ(device.replies.at(0xD8).kind, Reply::Kind::Stall);
    EXPECT_EQ(device.replies.at(0xD2).kind, Reply::Kind::Empty);
    EXPECT_EQ(device.replies.at(0xD0).kind, Reply::Kind::Normal);

    ASSERT_EQ(entry.faults.size(), 4u);
    const auto& open = entry.faults[0];
    EXPECT_EQ(open.call, Call::CreateFile);
    EXPECT_EQ(open.kind, Fault::Kind::Fail);
    EXPECT_EQ(open.error, 2u);
    EXPECT_EQ(open.occurrence, 3);
    const auto& init = entry.faults[1];
    EXPECT_EQ(init.call, Call::WinUsbInitialize);
    EXPECT_EQ(init.kind, Fault::Kind::Fail);
    EXPECT_EQ(init.result, 0);
    EXPECT_EQ(init.occurrence, 0);  // every call
    const auto& write = entry.faults[2];
    EXPECT_EQ(write.call, Call::WinUsbWritePipe);
    EXPECT_EQ(write.kind, Fault::Kind::AccessViolation);
    EXPECT_EQ(write.command, std::optional<std::uint8_t>(0xD0));
    const auto& read = entry.faults[3];
    EXPECT_EQ(read.call, Call::WinUsbReadPipe);
    EXPECT_EQ(read.command, std::optional<std::uint8_t>(0xD6));
    for (const auto& fault : entry.faults) EXPECT_EQ(fault.device, -1);  // set when applied
}

TEST(SimConfig, AnEmptyDeviceIsTheModelInstrument) {
    Config config = Parsed(R"({"devices": [{}, {"hardwareIds": []}]})");
    ASSERT_EQ(config.devices.size(), 2u);
    const ZorekSim::Device model;
    const auto& device = config.devices[0].device;
    EXPECT_EQ(device.hardwareIds, model.hardwareIds);
    EXPECT_TRUE(device.present);
    EXPECT_EQ(device.state.firmwareVersion, model.state.firmwareVersion);
    EXPECT_EQ(device.state.deviceId, model.state.deviceId);
    EXPECT_EQ(device.state.temperatures, model.state.temperatures);
    EXPECT_TRUE(device.replies.empty());
    EXPECT_TRUE(config.devices[0].faults.empty());
    EXPECT_EQ(config.devices[0].drift, 0);
    EXPECT_EQ(device.latency.count(), 0);
    EXPECT_TRUE(config.devices[1].device.hardwareIds.empty());

    EXPECT_TRUE(Parsed(R"({"devices": []})").devices.empty());
}

struct BadText {
    const char* what;
    const char* text;
    const char* key;
    const char* message;  // a part of the message
};

class SimConfigRejects : public ::testing::TestWithParam<BadText> {};

TEST_P(SimConfigRejects, NamingTheKeyAndWhatIsWrong) {
    const BadText& bad = GetParam();
    Error error = Rejected(bad.text);
    EXPECT_EQ(error.key, bad.key);
    EXPECT_NE(error.message.find(bad.message), std::string::npos) << error.message;
}

const BadText badTexts[] = {
    // Invalid JSON.
    {"Empty", "", "", "invalid JSON"},
    {"Truncated", "{\"devices\": [\n{}", "", "line 2"},
    {"TrailingComma", R"({"devices": [],})", "", "invalid JSON"},
    {"NotAnObject", "[]", "", "must be an object, not an array"},
    // Unknown keys, at every level.
    {"UnknownTopKey", R"({"devices": [], "device": []})", "device", "unknown key (known here: devices)"},
    {"UnknownDeviceKey", R"({"devices": [{"latency": 5}]})", "devices[0].latency", "unknown key"},
    {"UnknownStateKey", R"({"devices": [{}, {"state": {"temperature": [1, 2, 3]}}]})", "devices[1].state.temperature",
     "unknown key"},
    {"UnknownIdentificationKey", R"({"devices": [{"identification": {"firmware": 263}}]})",
     "devices[0].identification.firmware", "unknown key"},
    {"UnknownReplyKey", R"({"devices": [{"replies": {"status": {"kind": "short", "lenght": 3}}}]})",
     "devices[0].replies.status.lenght", "unknown key"},
    {"UnknownFaultKey", R"({"devices": [{"faults": [{"kind": "init-failure", "times": 2}]}]})",
     "devices[0].faults[0].times", "unknown key"},
    // Missing keys.
    {"NoDevices", "{}", "devices", "is missing"},
    {"FaultWithoutKind", R"({"devices": [{"faults": [{}]}]})", "devices[0].faults[0].kind", "is missing"},
    {"BytesWithoutBytes", R"({"devices": [{"replies": {"status": {"kind": "bytes"}}}]})",
     "devices[0].replies.status.bytes", "is missing"},
    {"ShortWithoutLength", R"({"devices": [{"replies": {"status": "short"}}]})", "devices[0].replies.status",
     "needs an object"},
    // Wrong types.
    {"DevicesNotAnArray", R"({"devices": {}})", "devices", "must be an array, not an object"},
    {"DeviceNotAnObject", R"({"devices": [3]})", "devices[0]", "must be an object, not 3"},
    {"PresentNotBoolean", R"({"devices": [{"present": "yes"}]})", "devices[0].present", "true or false"},
    {"FractionalByte", R"({"devices": [{"state": {"setFlag": 2.5}}]})", "devices[0].state.setFlag",
     "whole number, not 2.5"},
    {"ByteAsText", R"({"devices": [{"state": {"setFlag": "one"}}]})", "devices[0].state.setFlag", "not \"one\""},
    {"BooleanNumber", R"({"devices": [{"identification": {"deviceId": true}}]})", "devices[0].identification.deviceId",
     "whole number, not true"},
    {"TemperaturesNotAnArray", R"({"devices": [{"state": {"temperatures": 2150}}]})", "devices[0].state.temperatures",
     "must be an array"},
    {"HardwareIdNotAString", R"({"devices": [{"hardwareIds": ["USB\\VID_04D8&PID_00DF", 7]}]})",
     "devices[0].hardwareIds[1]", "must be a string"},
    {"LatencyAsText", R"({"devices": [{"latencyMs": "5"}]})", "devices[0].latencyMs", "number of milliseconds"},
    {"RepliesNotAnObject", R"({"devices": [{"replies": ["echo"]}]})", "devices[0].replies", "object of commands"},
    {"ReplyNotAKind", R"({"devices": [{"replies": {"status": 5}}]})", "devices[0].replies.status",
     "reply kind (a string) or an object"},
    {"FaultsNotAnArray", R"({"devices": [{"faults": {"kind": "init-failure"}}]})", "devices[0].faults",
     "must be an array"},
    // Values out of range.
    {"TemperatureTooHigh", R"({"devices": [{"state": {"temperatures": [2150, 70000, 2375]}}]})",
     "devices[0].state.temperatures[1]", "70000 is out of range (0 to 65535)"},
    {"NegativeTemperature", R"({"devices": [{"state": {"temperatures": [-1, 0, 0]}}]})",
     "devices[0].state.temperatures[0]", "out of range"},
    {"ThreeTemperaturesOnly", R"({"devices": [{"state": {"temperatures": [1, 2]}}]})", "devices[0].state.temperatures",
     "exactly 3 readings, not 2"},
    {"DeviceCodeTooHigh", R"({"devices": [{"identification": {"deviceCode": 256}}]})",
     "devices[0].identification.deviceCode", "256 is out of range (0 to 255)"},
    {"HexByteTooHigh", R"({"devices": [{"state": {"contrast": "0x100"}}]})", "devices[0].state.contrast",
     "0x100 is out of range"},
    {"HugeHex", R"({"devices": [{"identification": {"deviceId": "0x10000000000000000"}}]})",
     "devices[0].identification.deviceId", "out of range"},
    {"FirmwareNegative", R"({"devices": [{"identification": {"firmwareVersion": -1}}]})",
     "devices[0].identification.firmwareVersion", "out of range"},
    {"DeviceIdBeyond32Bits", R"({"devices": [{"identification": {"deviceId": 4294967296}}]})",
     "devices[0].identification.deviceId", "out of range (-2147483648 to 4294967295)"},
    {"HugeNumber", R"({"devices": [{"identification": {"deviceId": 18446744073709551615}}]})",
     "devices[0].identification.deviceId", "out of range"},
    {"LatencyTooLong", R"({"devices": [{"latencyMs": 20000}]})", "devices[0].latencyMs", "out of range"},
    {"NegativeLatency", R"({"devices": [{"latencyMs": -1}]})", "devices[0].latencyMs", "out of range"},
    {"DriftTooWide", R"({"devices": [{"drift": 10001}]})", "devices[0].drift", "out of range"},
    {"TooManyReplyBytes",
     R"({"devices": [{"replies": {"status": {"kind": "bytes", "bytes": [1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,
       17,18,19,20,21,22,23,24,25,26,27,28,29,30,31,32,33,34,35,36,37,38,39,40,41,42,43,44,45,46,47,48,49,50,51,52,
       53,54,55,56,57,58,59,60,61,62,63,64,65]}}}]})",
     "devices[0].replies.status.bytes", "holds 65 bytes"},
    {"ReplyByteTooHigh", R"({"devices": [{"replies": {"status": {"kind": "bytes", "bytes": [215, 300]}}}]})",
     "devices[0].replies.status.bytes[1]", "300 is out of range"},
    {"ShortTooLong", R"({"devices": [{"replies": {"status": {"kind": "short", "length": 65}}}]})",
     "devices[0].replies.status.length", "out of range (0 to 64)"},
    {"SameCommandTwice", R"({"devices": [{"replies": {"0xDA": "echo", "display": "none"}}]})",
     "devices[0].replies.display", "names the same command as \"0xDA\""},
    {"CommandBeyondAByte", R"({"devices": [{"replies": {"0x1D6": "echo"}}]})", "devices[0].replies.0x1D6",
     "out of range"},
    {"ZeroError", R"({"devices": [{"faults": [{"kind": "open-error", "error": 0}]}]})", "devices[0].faults[0].error",
     "out of range (1 to 4294967295)"},
    {"NegativeOccurrence", R"({"devices": [{"faults": [{"kind": "init-failure", "occurrence": -1}]}]})",
     "devices[0].faults[0].occurrence", "out of range"},
    {"NonAsciiHardwareId", "{\"devices\": [{\"hardwareIds\": [\"USB\\\\VID_04D8\xC3\xA9\"]}]}",
     "devices[0].hardwareIds[0]", "printable ASCII"},
    // Names that mean nothing here.
    {"UnknownCommand", R"({"devices": [{"replies": {"temperature": "echo"}}]})", "devices[0].replies.temperature",
     "is no command"},
    {"UnknownReplyKind", R"({"devices": [{"replies": {"status": "loud"}}]})", "devices[0].replies.status",
     "\"loud\" is none of normal, none, empty, short, echo, bytes, stall"},
    {"UnknownFaultKind", R"({"devices": [{"faults": [{"kind": "crash"}]}]})", "devices[0].faults[0].kind",
     "none of open-error, init-failure, access-violation"},
    {"UnknownPipe", R"({"devices": [{"faults": [{"kind": "access-violation", "pipe": "in"}]}]})",
     "devices[0].faults[0].pipe", "none of read, write"},
    {"UnknownFaultCommand", R"({"devices": [{"faults": [{"kind": "access-violation", "command": "temp"}]}]})",
     "devices[0].faults[0].command", "is no command"},
    // Keys that do not belong to the kind given.
    {"PipeOnAnOpenError", R"({"devices": [{"faults": [{"kind": "open-error", "pipe": "read"}]}]})",
     "devices[0].faults[0].pipe", "does not apply to kind \"open-error\""},
    {"ErrorOnAnAccessViolation", R"({"devices": [{"faults": [{"kind": "access-violation", "error": 5}]}]})",
     "devices[0].faults[0].error", "does not apply"},
    {"LengthOnAnEcho", R"({"devices": [{"replies": {"status": {"kind": "echo", "length": 3}}}]})",
     "devices[0].replies.status.length", "applies only to kind \"short\""},
    {"BytesOnAShortReply", R"({"devices": [{"replies": {"status": {"kind": "short", "length": 1, "bytes": []}}}]})",
     "devices[0].replies.status.bytes", "applies only to kind \"bytes\""},
};

INSTANTIATE_TEST_SUITE_P(BadTexts, SimConfigRejects, ::testing::ValuesIn(badTexts),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(SimConfig, TooManyDevices) {
    std::string text = R"({"devices": [{})";
    for (std::size_t i = 1; i <= ZorekSimConfig::MaxDevices; ++i) text += ", {}";
    Error error = Rejected(text + "]}");
    EXPECT_EQ(error.key, "devices");
    EXPECT_NE(error.message.find("lists 65 devices; at most 64"), std::string::npos) << error.message;
    text.resize(text.size() - 4);
    EXPECT_EQ(Parsed(text + "]}").devices.size(), ZorekSimConfig::MaxDevices);
}

TEST(SimConfig, FilesThatCannotBeReadOrAreTooLarge) {
    auto check = [](const std::filesystem::path& file, const std::string& message) {
        auto result = ZorekSimConfig::Load(file);
        const auto* error = std::get_if<Error>(&result);
        ASSERT_NE(error, nullptr) << file;
        EXPECT_EQ(error->key, "");
        EXPECT_NE(error->message.find(message), std::string::npos) << error->message;
        EXPECT_EQ(ZorekSimConfig::Describe(file, *error), file.string() + ": " + error->message);
    };
    check("/nonexistent/zorek.json", "cannot be opened: No such file or directory");
    check(std::filesystem::temp_directory_path(), "is a directory");

    auto large = TempFile("large.json", std::string(ZorekSimConfig::MaxFileSize + 1, ' '));
    check(large, "is larger than 1048576 bytes");
    std::filesystem::remove(large);

    auto good = TempFile("good.json", R"({"devices": [{"state": {"contrast": 9}}]})");
    auto result = ZorekSimConfig::Load(good);
    std::filesystem::remove(good);
    ASSERT_TRUE(std::holds_alternative<Config>(result));
    EXPECT_EQ(std::get<Config>(result).devices.at(0).device.state.contrast, 9);
}

TEST(SimConfig, DescribeNamesFileKeyAndProblem) {
    EXPECT_EQ(ZorekSimConfig::Describe("/tmp/a.json", Error{"devices[0].drift", "10001 is out of range (0 to 10000)"}),
              "/tmp/a.json: devices[0].drift: 10001 is out of range (0 to 10000)");
}

TEST(SimConfig, EveryExampleFileLoads) {
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(ZOREK_EXAMPLES_DIR)) {
        if (entry.path().extension() != ".json") continue;
        ++files;
        auto result = ZorekSimConfig::Load(entry.path());
        if (const auto* error = std::get_if<Error>(&result))
            ADD_FAILURE() << ZorekSimConfig::Describe(entry.path(), *error);
    }
    EXPECT_GE(files, 3u);
}
