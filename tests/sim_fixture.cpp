#include "sim_fixture.h"

std::size_t SimTest::Count(ZorekSim::Call call) {
    std::size_t n = 0;
    for (auto c : ZorekSim::CallSequence()) n += c == call;
    return n;
}

std::vector<ZorekSim::Packet> SimTest::Requests() {
    std::vector<ZorekSim::Packet> requests;
    for (const auto& record : ZorekSim::Calls())
        if (record.call == ZorekSim::Call::WinUsbWritePipe) requests.push_back(record.packet);
    return requests;
}

const std::vector<DeviceFunction>& DeviceFunctions() {
    using V = std::vector<std::int32_t>;
    static const std::vector<DeviceFunction> functions = {
        {"GetDeviceID", [](std::int32_t id, std::int32_t* flag, V& o) { return GetDeviceID(id, flag, &o[0]); }, 1, 2,
         0},
        {"GetWriteValue",
         [](std::int32_t id, std::int32_t* flag, V& o) { return GetWriteValue(id, flag, &o[0], &o[1], &o[2]); }, 3, 3,
         0xD3},
        {"GetTemperature",
         [](std::int32_t id, std::int32_t* flag, V& o) { return GetTemperature(id, flag, &o[0], &o[1], &o[2]); }, 3, 3,
         0xD7},
        {"GetExternalInput",
         [](std::int32_t id, std::int32_t* flag, V& o) { return GetExternalInput(id, flag, &o[0]); }, 1, 3, 0xD7},
        {"DevicePWR", [](std::int32_t id, std::int32_t* flag, V&) { return DevicePWR(id, flag, 1); }, 0, 3, 0xD9},
        {"SetDisplay", [](std::int32_t id, std::int32_t* flag, V&) { return SetDisplay(id, flag, 40); }, 0, 3, 0xDB},
        {"SetMainValue",
         [](std::int32_t id, std::int32_t* flag, V& o) { return SetMainValue(id, flag, 1234, 1, &o[0]); }, 1, 3, 0xD1},
    };
    return functions;
}

std::vector<DeviceFunction> OperationFunctions() {
    std::vector<DeviceFunction> functions;
    for (const auto& f : DeviceFunctions())
        if (f.replyCode != 0) functions.push_back(f);
    return functions;
}

void PrintTo(const DeviceFunction& f, std::ostream* os) { *os << f.name; }

std::string FunctionName(const ::testing::TestParamInfo<DeviceFunction>& info) { return info.param.name; }

Outcome Invoke(const DeviceFunction& f, std::int32_t USBID) {
    Outcome outcome{Sentinel, Sentinel, std::vector<std::int32_t>(f.outputs, Sentinel)};
    outcome.result = f.call(USBID, &outcome.status, outcome.outputs);
    return outcome;
}

std::vector<std::int32_t> UntouchedOutputs(const DeviceFunction& f) {
    return std::vector<std::int32_t>(f.outputs, f.name == "GetDeviceID" ? 0 : Sentinel);
}

ZorekSim::Packet Bytes(std::initializer_list<std::uint8_t> leading) {
    ZorekSim::Packet packet{};
    std::copy(leading.begin(), leading.end(), packet.begin());
    return packet;
}
