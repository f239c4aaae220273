#include "instrument.h"

namespace ZorekInstrument {
namespace {

void PutLittle32(Packet& packet, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) packet[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t GetBig32(const Packet& packet, std::size_t at) {
    return std::uint32_t{packet[at]} << 24 | std::uint32_t{packet[at + 1]} << 16 | std::uint32_t{packet[at + 2]} << 8 |
           packet[at + 3];
}

}  // namespace

std::optional<Packet> Answer(State& state, const Packet& request) {
    Packet reply{};
    reply[0] = static_cast<std::uint8_t>(request[0] + 1);
    switch (request[0]) {
        case DeviceInfoCommand:
            reply[1] = state.deviceCode;
            reply[2] = static_cast<std::uint8_t>(state.firmwareVersion >> 8);
            reply[3] = static_cast<std::uint8_t>(state.firmwareVersion);
            reply[4] = state.nameCode;
            reply[5] = state.byte5;
            reply[6] = state.typeCode;
            return reply;
        case DeviceParamCommand:
            PutLittle32(reply, 1, state.deviceId);
            PutLittle32(reply, 5, state.deviceNumStart);
            PutLittle32(reply, 9, state.deviceTimeAtConnect);
            return reply;
        case SetMainValueCommand:
            state.mainValue = static_cast<std::int32_t>(GetBig32(request, 1));
            state.setFlag = request[6];
            reply[5] = state.protectState;
            return reply;
        case WriteValueCommand:
            PutLittle32(reply, 1, static_cast<std::uint32_t>(state.mainValue));
            reply[5] = state.protectState;
            reply[6] = state.setFlag;
            return reply;
        case StatusCommand:
            for (std::size_t i = 0; i < 3; ++i) {
                reply[1 + 2 * i] = static_cast<std::uint8_t>(state.temperatures[i]);
                reply[2 + 2 * i] = static_cast<std::uint8_t>(state.temperatures[i] >> 8);
            }
            reply[7] = state.externalInput;
            return reply;
        case MenuCommand: state.powerMode = request[1]; return reply;
        case DisplayCommand:
            state.displaySelect = request[1];
            state.contrast = request[2];
            return reply;
        default: return std::nullopt;
    }
}

}  // namespace ZorekInstrument
