// The connection cycle every device function runs: discovery, open, WinUSB
// initialisation, the identification handshake, the operation slot, close and
// release.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace ZorekInterface {

using ZorekPlatform::Handle;

// The function's operation: runs after both identification requests were
// accepted; stringDeviceVersion is the firmware version the device reported.
// Returns the call's result.
using Operation = std::int32_t (*)(Handle MyWinUSBInterfaceHandle, Handle MyDeviceHandle,
                                   std::int32_t stringDeviceVersion, void* context);

// Pipe time-out set on both pipes, so that a silent device cannot hold TRB.
inline constexpr std::uint32_t PipeTimeoutMs = 1000;

// Runs one connection cycle on the device at USBID. deviceID receives the
// device identifier (GetDeviceID's own variable) or is null; a null operation
// makes the result 1 once the device is identified. *USBFlag must be 0.
std::int32_t RunConnectionCycle(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t* deviceID, Operation operation,
                                void* context);

// Closes the device handle and then, if that succeeded, frees the interface
// handle. False for an empty device handle, a failed close or free, or an
// access violation inside either.
bool DisconnectDevice(Handle MyWinUSBInterfaceHandle, Handle MyDeviceHandle);

}  // namespace ZorekInterface
