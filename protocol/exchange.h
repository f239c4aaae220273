// The request exchange: one 64-byte request on pipe 0x01, one 64-byte reply
// from pipe 0x81, one exchange at a time in the whole process.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace ZorekInterface {

using ZorekPlatform::Handle;
using Packet = std::array<std::uint8_t, 64>;

inline constexpr std::uint8_t RequestPipe = 0x01;
inline constexpr std::uint8_t ReplyPipe = 0x81;

// Transfer-busy flag: set while an exchange owns the pipes.
extern std::atomic<bool> TRB;

// Writes request and reads reply under TRB. The reply is cleared first, so a
// reply that did not arrive, or a transfer ended by an access violation,
// leaves byte 0 at 0, which no reply code equals.
void Exchange(Handle MyWinUSBInterfaceHandle, Packet& request, Packet& reply);

// True when reply byte 0 is the reply code of the request's command byte.
inline bool Answers(const Packet& request, const Packet& reply) {
    return reply[0] == static_cast<std::uint8_t>(request[0] + 1);
}

}  // namespace ZorekInterface
