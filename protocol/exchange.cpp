#include "protocol/exchange.h"

#include "protocol/pause.h"

namespace ZorekInterface {

std::atomic<bool> TRB{false};

namespace {

struct Transfers {
    Handle interfaceHandle;
    Packet* request;
    Packet* reply;
    std::uint32_t written;
    std::uint32_t read;
};

void WriteThenRead(void* context) {
    auto& t = *static_cast<Transfers*>(context);
    ZorekPlatform::WinUsb_WritePipe(t.interfaceHandle, RequestPipe, t.request->data(), 64, &t.written, nullptr);
    ZorekPlatform::WinUsb_ReadPipe(t.interfaceHandle, ReplyPipe, t.reply->data(), 64, &t.read, nullptr);
}

}  // namespace

void Exchange(Handle MyWinUSBInterfaceHandle, Packet& request, Packet& reply) {
    reply.fill(0);
    Transfers transfers{MyWinUSBInterfaceHandle, &request, &reply, 0, 0};
    TakeFlag(TRB);
    bool completed = ZorekPlatform::GuardAccessViolation(&WriteThenRead, &transfers);
    TRB.store(false, std::memory_order_release);
    if (!completed) reply[0] = 0;
}

}  // namespace ZorekInterface
