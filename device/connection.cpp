#include "device/connection.h"

#include "device/discovery.h"
#include "protocol/exchange.h"
#include "protocol/requests.h"

namespace ZorekInterface {
namespace {

namespace P = ZorekPlatform;

struct Release {
    Handle interfaceHandle;
    Handle deviceHandle;
    bool result;
};

void CloseThenFree(void* context) {
    auto& r = *static_cast<Release*>(context);
    r.result = P::CloseHandle(r.deviceHandle) != 0;
    if (r.result && r.interfaceHandle != nullptr) r.result = P::WinUsb_Free(r.interfaceHandle) != 0;
}

void SetPipeTimeouts(Handle interfaceHandle) {
    std::uint32_t timeout = PipeTimeoutMs;
    P::WinUsb_SetPipePolicy(interfaceHandle, RequestPipe, P::PipeTransferTimeout, sizeof timeout, &timeout);
    P::WinUsb_SetPipePolicy(interfaceHandle, ReplyPipe, P::PipeTransferTimeout, sizeof timeout, &timeout);
}

// Open, initialise, identify and operate; leaves the handles for the close.
std::int32_t Converse(const char16_t* devicePath, std::int32_t* USBFlag, std::int32_t* deviceID, Operation operation,
                      void* context, Handle& deviceHandle, Handle& interfaceHandle) {
    deviceHandle = P::CreateFileW(devicePath, P::GenericRead | P::GenericWrite, P::FileShareRead | P::FileShareWrite,
                                  nullptr, P::OpenExisting, P::FileFlagOverlapped, nullptr);
    const bool opened = P::GetLastError() == P::ErrorSuccess;
    if (opened) {
        Handle delivered = nullptr;
        if (P::WinUsb_Initialize(deviceHandle, &delivered) != 1) return 0;
        interfaceHandle = delivered;
        SetPipeTimeouts(interfaceHandle);
    } else {
        *USBFlag = 7;
    }

    std::int32_t firmDeviceID = 0, stringDeviceName = 0, stringDeviceVersion = 0, stringDeviceType = 0,
                 stringDeviceLine = 0;
    if (!GetDeviceInfo(interfaceHandle, deviceHandle, &firmDeviceID, &stringDeviceName, &stringDeviceVersion,
                       &stringDeviceType, &stringDeviceLine)) {
        *USBFlag = opened ? 5 : 8;
        return 0;
    }
    std::int32_t ownDeviceID = 0, deviceNumStart = 0, deviceTimeAtConnect = 0;
    if (!GetDeviceParam(interfaceHandle, deviceHandle, deviceID != nullptr ? deviceID : &ownDeviceID, &deviceNumStart,
                        &deviceTimeAtConnect)) {
        *USBFlag = opened ? 6 : 9;
        return 0;
    }
    return operation == nullptr ? 1 : operation(interfaceHandle, deviceHandle, stringDeviceVersion, context);
}

}  // namespace

bool DisconnectDevice(Handle MyWinUSBInterfaceHandle, Handle MyDeviceHandle) {
    if (MyDeviceHandle == nullptr) return false;
    Release release{MyWinUSBInterfaceHandle, MyDeviceHandle, false};
    return P::GuardAccessViolation(&CloseThenFree, &release) && release.result;
}

std::int32_t RunConnectionCycle(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t* deviceID, Operation operation,
                                void* context) {
    Discovered found{};
    if (!DiscoverDevice(USBID, USBFlag, found)) return 0;
    Handle deviceHandle = nullptr, interfaceHandle = nullptr;
    std::int32_t result =
        Converse(found.devicePath, USBFlag, deviceID, operation, context, deviceHandle, interfaceHandle);
    DisconnectDevice(interfaceHandle, deviceHandle);
    ReleaseDiscovery(found);
    return result;
}

}  // namespace ZorekInterface
