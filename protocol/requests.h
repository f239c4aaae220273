// The eight request functions: each performs one request exchange and writes
// its outputs only when the reply is accepted. No output pointer may be null.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace ZorekInterface {

using ZorekPlatform::Handle;

// Identification.
bool GetDeviceInfo(Handle MyWinUSBInterfaceHandle, Handle MyDeviceHandle, std::int32_t* firmDeviceID,
                   std::int32_t* stringDeviceName, std::int32_t* stringDeviceVersion, std::int32_t* stringDeviceType,
                   std::int32_t* stringDeviceLine);
bool GetDeviceParam(Handle MyWinUSBInterfaceHandle, Handle MyDeviceHandle, std::int32_t* deviceID,
                    std::int32_t* deviceNumStart, std::int32_t* deviceTimeAtConnect);

// Operations; each returns 1 when the reply code matched, else 0.
std::int32_t SetMainValueInternal(Handle MyWinUSBInterfaceHandle, Handle MyDeviceHandle, std::int32_t value,
                                  std::int32_t write, std::int32_t* protectState);
std::int32_t GetWriteValueInternal(Handle MyWinUSBInterfaceHandle, Handle MyDeviceHandle, std::int32_t* value,
                                   std::int32_t* set, std::int32_t* protectState);
std::int32_t GetTemperatureInternal(Handle MyWinUSBInterfaceHandle, Handle MyDeviceHandle, std::int32_t* tmp1,
                                    std::int32_t* tmp2, std::int32_t* tmp3);
std::int32_t GetExternalInputInternal(Handle MyWinUSBInterfaceHandle, Handle MyDeviceHandle, std::int32_t* input);
std::int32_t DeviceMenu(Handle MyWinUSBInterfaceHandle, Handle MyDeviceHandle, std::int32_t mode);
std::int32_t SetDisplayInternal(Handle MyWinUSBInterfaceHandle, Handle MyDeviceHandle, std::uint8_t contrast);

}  // namespace ZorekInterface
