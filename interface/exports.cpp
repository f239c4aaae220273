// The exported functions and their operation table: which request each one
// sends after the identification handshake, under which gate.
#include <initializer_list>

#include "device/connection.h"
#include "interface/zorek.h"
#include "protocol/requests.h"

using ZorekInterface::Handle;
using ZorekInterface::RunConnectionCycle;

namespace {

constexpr std::int32_t HighestMode = 2;
constexpr std::int32_t LastFirmwareWithoutDisplay = 0x0106;

// Clears the status code; false when a pointer the call needs is null.
bool Enter(std::int32_t* USBFlag, std::initializer_list<const std::int32_t*> outputs) {
    if (USBFlag == nullptr) return false;
    *USBFlag = 0;
    for (const std::int32_t* output : outputs)
        if (output == nullptr) return false;
    return true;
}

}  // namespace

extern "C" {

std::int32_t ZOREK_CALL GetInterfaceVersion(void) { return ZOREK_INTERFACE_VERSION; }

std::int32_t ZOREK_CALL GetDeviceID(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t* deviceID) {
    if (deviceID != nullptr) *deviceID = 0;
    if (!Enter(USBFlag, {deviceID})) return 0;
    return RunConnectionCycle(USBID, USBFlag, deviceID, nullptr, nullptr);
}

std::int32_t ZOREK_CALL GetWriteValue(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t* value, std::int32_t* set,
                                      std::int32_t* protectState) {
    if (!Enter(USBFlag, {value, set, protectState})) return 0;
    std::int32_t* outputs[] = {value, set, protectState};
    return RunConnectionCycle(
        USBID, USBFlag, nullptr,
        [](Handle interfaceHandle, Handle deviceHandle, std::int32_t, void* context) {
            auto out = static_cast<std::int32_t**>(context);
            return ZorekInterface::GetWriteValueInternal(interfaceHandle, deviceHandle, out[0], out[1], out[2]);
        },
        outputs);
}

std::int32_t ZOREK_CALL GetTemperature(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t* tmp1,
                                       std::int32_t* tmp2, std::int32_t* tmp3) {
    if (!Enter(USBFlag, {tmp1, tmp2, tmp3})) return 0;
    std::int32_t* outputs[] = {tmp1, tmp2, tmp3};
    return RunConnectionCycle(
        USBID, USBFlag, nullptr,
        [](Handle interfaceHandle, Handle deviceHandle, std::int32_t, void* context) {
            auto out = static_cast<std::int32_t**>(context);
            return ZorekInterface::GetTemperatureInternal(interfaceHandle, deviceHandle, out[0], out[1], out[2]);
        },
        outputs);
}

std::int32_t ZOREK_CALL GetExternalInput(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t* input) {
    if (!Enter(USBFlag, {input})) return 0;
    return RunConnectionCycle(
        USBID, USBFlag, nullptr,
        [](Handle interfaceHandle, Handle deviceHandle, std::int32_t, void* context) {
            return ZorekInterface::GetExternalInputInternal(interfaceHandle, deviceHandle,
                                                            static_cast<std::int32_t*>(context));
        },
        input);
}

std::int32_t ZOREK_CALL DevicePWR(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t mode) {
    if (!Enter(USBFlag, {})) return 0;
    return RunConnectionCycle(
        USBID, USBFlag, nullptr,
        [](Handle interfaceHandle, Handle deviceHandle, std::int32_t, void* context) {
            std::int32_t mode = *static_cast<std::int32_t*>(context);
            return mode > HighestMode ? 0 : ZorekInterface::DeviceMenu(interfaceHandle, deviceHandle, mode);
        },
        &mode);
}

std::int32_t ZOREK_CALL SetDisplay(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t contrast) {
    if (!Enter(USBFlag, {})) return 0;
    return RunConnectionCycle(
        USBID, USBFlag, nullptr,
        [](Handle interfaceHandle, Handle deviceHandle, std::int32_t stringDeviceVersion, void* context) {
            auto contrast = static_cast<std::uint8_t>(*static_cast<std::int32_t*>(context));
            return stringDeviceVersion > LastFirmwareWithoutDisplay
                       ? ZorekInterface::SetDisplayInternal(interfaceHandle, deviceHandle, contrast)
                       : 0;
        },
        &contrast);
}

std::int32_t ZOREK_CALL SetMainValue(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t value, std::int32_t write,
                                     std::int32_t* protectState) {
    if (!Enter(USBFlag, {protectState})) return 0;
    struct Arguments {
        std::int32_t value, write;
        std::int32_t* protectState;
    } arguments{value, write, protectState};
    return RunConnectionCycle(
        USBID, USBFlag, nullptr,
        [](Handle interfaceHandle, Handle deviceHandle, std::int32_t, void* context) {
            auto& a = *static_cast<Arguments*>(context);
            return ZorekInterface::SetMainValueInternal(interfaceHandle, deviceHandle, a.value, a.write,
                                                        a.protectState);
        },
        &arguments);
}

}  // extern "C"
