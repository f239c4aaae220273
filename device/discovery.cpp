#include "device/discovery.h"

#include <cstring>

namespace ZorekInterface {
namespace {

namespace P = ZorekPlatform;

constexpr char16_t HardwareIdPattern[] = u"vid_04d8&pid_00df";
constexpr std::size_t PatternLength = sizeof HardwareIdPattern / sizeof(char16_t) - 1;

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c; }

// Length in characters of the NUL-terminated string at the start of bytes,
// or -1 when no NUL lies within them.
std::ptrdiff_t TerminatedLength(const std::uint8_t* bytes, std::size_t size) {
    for (std::size_t i = 0; i + 1 < size; i += 2)
        if (bytes[i] == 0 && bytes[i + 1] == 0) return static_cast<std::ptrdiff_t>(i / 2);
    return -1;
}

// Whether the first string of the list contains the pattern, letter case ignored.
bool FirstIdMatches(const std::uint8_t* list, std::size_t size) {
    std::ptrdiff_t length = TerminatedLength(list, size);
    if (length < 0) return false;
    auto id = [list](std::size_t i) { return Lower(static_cast<char16_t>(list[2 * i] | list[2 * i + 1] << 8)); };
    for (std::size_t start = 0; start + PatternLength <= static_cast<std::size_t>(length); ++start) {
        std::size_t i = 0;
        while (i < PatternLength && id(start + i) == HardwareIdPattern[i]) ++i;
        if (i == PatternLength) return true;
    }
    return false;
}

bool Fail(P::Handle set, std::int32_t* USBFlag, std::int32_t code) {
    P::SetupDiDestroyDeviceInfoList(set);
    *USBFlag = code;
    return false;
}

}  // namespace

bool DiscoverDevice(std::int32_t USBID, std::int32_t* USBFlag, Discovered& found) {
    const auto index = static_cast<std::uint32_t>(USBID);
    P::Handle set =
        P::SetupDiGetClassDevsW(&DeviceInterfaceGuid, nullptr, nullptr, P::DigcfPresent | P::DigcfDeviceInterface);

    P::DeviceInterfaceData interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    if (!P::SetupDiEnumDeviceInterfaces(set, nullptr, &DeviceInterfaceGuid, index, &interfaceData))
        return Fail(set, USBFlag, P::GetLastError() == P::ErrorNoMoreItems ? 1 : 2);

    P::DevInfoData deviceData{};
    deviceData.cbSize = sizeof deviceData;
    P::SetupDiEnumDeviceInfo(set, index, &deviceData);

    std::uint32_t dataType = 0, listSize = 0;
    P::SetupDiGetDeviceRegistryPropertyW(set, &deviceData, P::SpdrpHardwareId, &dataType, nullptr, 0, &listSize);
    auto* list = static_cast<std::uint8_t*>(P::HeapAlloc(listSize));
    if (list == nullptr) return Fail(set, USBFlag, 3);
    bool listed =
        P::SetupDiGetDeviceRegistryPropertyW(set, &deviceData, P::SpdrpHardwareId, &dataType, list, listSize, nullptr);
    bool matches = listed && FirstIdMatches(list, listSize);
    P::HeapFree(list);
    if (!matches) return Fail(set, USBFlag, 8);

    std::uint32_t detailSize = 0;
    P::SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &detailSize, nullptr);
    if (detailSize < P::DetailFixedSize) return Fail(set, USBFlag, 4);
    auto* detail = static_cast<std::uint8_t*>(P::HeapAlloc(detailSize));
    if (detail == nullptr) return Fail(set, USBFlag, 4);
    const std::uint32_t cbSize = P::DetailFixedSize;
    std::memcpy(detail, &cbSize, sizeof cbSize);
    bool filled = P::SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, detailSize, nullptr, nullptr);
    if (!filled || TerminatedLength(detail + P::DetailPathOffset, detailSize - P::DetailPathOffset) < 0) {
        P::HeapFree(detail);
        return Fail(set, USBFlag, 4);
    }

    found.set = set;
    found.detail = detail;
    found.devicePath = reinterpret_cast<const char16_t*>(detail + P::DetailPathOffset);
    return true;
}

void ReleaseDiscovery(const Discovered& found) {
    P::SetupDiDestroyDeviceInfoList(found.set);
    P::HeapFree(found.detail);
}

}  // namespace ZorekInterface
