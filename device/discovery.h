// Device discovery: the interface at index USBID among the present interfaces
// of the device class, checked by its device's first hardware ID.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace ZorekInterface {

inline constexpr ZorekPlatform::Guid DeviceInterfaceGuid = {
    0xA7814B47, 0x27C1, 0x11DD, {0xBD, 0x0B, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};

// What discovery hands to the connection cycle, which releases it with
// ReleaseDiscovery.
struct Discovered {
    ZorekPlatform::Handle set;
    void* detail;                // heap block holding the device path
    const char16_t* devicePath;  // inside detail
};

// Fills found and returns true, or sets *USBFlag to 1, 2, 3, 4 or 8, releases
// everything it acquired and returns false.
bool DiscoverDevice(std::int32_t USBID, std::int32_t* USBFlag, Discovered& found);
void ReleaseDiscovery(const Discovered& found);

}  // namespace ZorekInterface
