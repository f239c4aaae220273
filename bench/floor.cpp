#include "floor.h"

#include <array>
#include <cstring>

#include "device/discovery.h"
#include "platform/platform.h"

namespace ZorekBench {
namespace {

namespace P = ZorekPlatform;

struct Transfers {
    P::Handle usb;
    std::array<std::uint8_t, 64> request, reply;
    std::uint32_t written, read;
};

void WriteThenRead(void* context) {
    auto& t = *static_cast<Transfers*>(context);
    P::WinUsb_WritePipe(t.usb, 0x01, t.request.data(), 64, &t.written, nullptr);
    P::WinUsb_ReadPipe(t.usb, 0x81, t.reply.data(), 64, &t.read, nullptr);
}

}  // namespace

void Floor(const std::vector<std::uint8_t>& commands) {
    const P::Guid* guid = &ZorekInterface::DeviceInterfaceGuid;
    P::Handle set = P::SetupDiGetClassDevsW(guid, nullptr, nullptr, 0x12);
    P::DeviceInterfaceData interfaceData{sizeof interfaceData, {}, 0, 0};
    P::SetupDiEnumDeviceInterfaces(set, nullptr, guid, 0, &interfaceData);
    P::DevInfoData deviceData{sizeof deviceData, {}, 0, 0};
    P::SetupDiEnumDeviceInfo(set, 0, &deviceData);
    std::uint32_t type = 0, size = 0;
    P::SetupDiGetDeviceRegistryPropertyW(set, &deviceData, P::SpdrpHardwareId, &type, nullptr, 0, &size);
    auto* list = static_cast<std::uint8_t*>(P::HeapAlloc(size));
    P::SetupDiGetDeviceRegistryPropertyW(set, &deviceData, P::SpdrpHardwareId, &type, list, size, nullptr);
    P::HeapFree(list);
    std::uint32_t detailSize = 0;
    P::SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &detailSize, nullptr);
    auto* detail = static_cast<std::uint8_t*>(P::HeapAlloc(detailSize));
    const std::uint32_t cbSize = P::DetailFixedSize;
    std::memcpy(detail, &cbSize, sizeof cbSize);
    P::SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, detailSize, nullptr, nullptr);
    P::Handle file = P::CreateFileW(reinterpret_cast<const char16_t*>(detail + P::DetailPathOffset), 0xC0000000, 3,
                                    nullptr, 3, 0x40000000, nullptr);
    P::GetLastError();
    P::Handle usb = nullptr;
    P::WinUsb_Initialize(file, &usb);
    std::uint32_t timeout = 1000;
    P::WinUsb_SetPipePolicy(usb, 0x01, P::PipeTransferTimeout, sizeof timeout, &timeout);
    P::WinUsb_SetPipePolicy(usb, 0x81, P::PipeTransferTimeout, sizeof timeout, &timeout);
    for (std::uint8_t command : commands) {
        Transfers t{usb, {command}, {}, 0, 0};
        P::GuardAccessViolation(&WriteThenRead, &t);
    }
    P::CloseHandle(file);
    P::WinUsb_Free(usb);
    P::SetupDiDestroyDeviceInfoList(set);
    P::HeapFree(detail);
}

}  // namespace ZorekBench
