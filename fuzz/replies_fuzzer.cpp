// Arbitrary reply packets, one for each exchange of a call, through the
// exported functions on the simulated platform. Outputs may change only on an
// accepted reply, and then to exactly the decoded values.
//
// Input: byte 0 picks the function, bytes 1-4 its 32-bit argument, then up to
// three replies of 64 bytes (a shorter last one is a short reply).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "interface/zorek.h"
#include "platform/sim/sim.h"
#include "protocol/exchange.h"

namespace {

using namespace ZorekSim;

constexpr std::int32_t Untouched = 0x5A5A5A5A;

#define CHECK(condition)                                                                       \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

std::int32_t Little32(const Packet& p, int at) {
    return static_cast<std::int32_t>(std::uint32_t{p[at]} | std::uint32_t{p[at + 1]} << 8 |
                                     std::uint32_t{p[at + 2]} << 16 | std::uint32_t{p[at + 3]} << 24);
}

std::size_t Writes() {
    std::size_t n = 0;
    for (auto call : CallSequence()) n += call == Call::WinUsbWritePipe;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return 0;
    const int function = data[0] % 7;
    std::int32_t argument;
    std::memcpy(&argument, data + 1, 4);
    data += 5;
    size -= 5;

    Reset();
    AddDevice();
    Packet replies[3] = {};
    for (int i = 0; i < 3; ++i) {  // missing replies arrive empty
        std::size_t n = size < 64 ? size : 64;
        std::memcpy(replies[i].data(), data, n);
        Fault fault{Call::WinUsbReadPipe, Fault::Kind::Deliver, i + 1};
        fault.bytes.assign(data, data + n);
        InjectFault(fault);
        data += n;
        size -= n;
    }

    std::int32_t flag = Untouched, a = Untouched, b = Untouched, c = Untouched;
    std::int32_t result = 0;
    std::uint8_t command = 0;
    bool gated = true;
    switch (function) {
        case 0: result = GetDeviceID(0, &flag, &a); break;
        case 1: result = GetWriteValue(0, &flag, &a, &b, &c), command = 0xD2; break;
        case 2: result = GetTemperature(0, &flag, &a, &b, &c), command = 0xD6; break;
        case 3: result = GetExternalInput(0, &flag, &a), command = 0xD6; break;
        case 4: result = DevicePWR(0, &flag, argument), command = 0xD8, gated = argument <= 2; break;
        case 5: result = SetDisplay(0, &flag, argument), command = 0xDA; break;
        case 6: result = SetMainValue(0, &flag, argument, argument & 1, &a), command = 0xD0; break;
    }

    const Packet& info = replies[0];
    const Packet& param = replies[1];
    const Packet& op = replies[2];
    const bool infoOk = info[0] == 0x21 && info[1] >= 0x93 && info[1] <= 0x95;
    const bool paramOk = infoOk && param[0] == 0x25;
    if (function == 5) gated = (info[2] << 8 | info[3]) > 262;
    const bool operated = paramOk && function != 0 && gated;
    const bool opOk = operated && op[0] == command + 1;

    CHECK(!ZorekInterface::TRB.load());
    CHECK(Open() == OpenResources{});
    CHECK(flag == (!infoOk ? 5 : !paramOk ? 6 : 0));
    CHECK(Writes() == (!infoOk ? 1u : !paramOk || !operated ? 2u : 3u));
    if (function == 0) {
        CHECK(result == (paramOk ? 1 : 0));
        CHECK(a == (paramOk ? Little32(param, 1) : 0));
        return 0;
    }
    CHECK(result == (opOk ? 1 : 0));
    std::int32_t expected[3] = {Untouched, Untouched, Untouched};
    if (opOk) {
        switch (function) {
            case 1: expected[0] = Little32(op, 1), expected[1] = op[6], expected[2] = op[5]; break;
            case 2:
                expected[0] = op[1] | op[2] << 8, expected[1] = op[3] | op[4] << 8, expected[2] = op[5] | op[6] << 8;
                break;
            case 3: expected[0] = op[7] == 1 ? 1 : 0; break;
            case 6: expected[0] = op[5]; break;
        }
    }
    CHECK(a == expected[0] && b == expected[1] && c == expected[2]);
    return 0;
}
