// The exports of the zorek-sim library. The first call of any of them gives
// the simulated platform the devices that ZOREK_SIM_CONFIG describes, or the
// built-in instrument without it; then each forwards to the library's own
// function of that name, compiled here as ZorekSimCore_<name>. Nothing runs
// when the library is loaded: on Windows that would be inside DllMain, under
// the loader lock, where reading files and starting threads is unsafe.
//
// A configuration that cannot be taken is reported once on standard error,
// and the library then presents no device.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <variant>

#include "interface/zorek.h"
#include "simulator/config.h"
#include "simulator/setup.h"

extern "C" {
decltype(::GetInterfaceVersion) ZorekSimCore_GetInterfaceVersion;
decltype(::GetDeviceID) ZorekSimCore_GetDeviceID;
decltype(::GetWriteValue) ZorekSimCore_GetWriteValue;
decltype(::GetTemperature) ZorekSimCore_GetTemperature;
decltype(::GetExternalInput) ZorekSimCore_GetExternalInput;
decltype(::DevicePWR) ZorekSimCore_DevicePWR;
decltype(::SetDisplay) ZorekSimCore_SetDisplay;
decltype(::SetMainValue) ZorekSimCore_SetMainValue;
}

namespace {

void Configure() noexcept {
    try {
        const char* file = std::getenv("ZOREK_SIM_CONFIG");
        if (file == nullptr || *file == '\0') {
            ZorekSimulator::Apply(ZorekSimulator::Builtin());
            return;
        }
        auto result = ZorekSimConfig::Load(file);
        if (const auto* error = std::get_if<ZorekSimConfig::Error>(&result)) {
            std::fprintf(stderr, "zorek-sim: %s; presenting no device\n",
                         ZorekSimConfig::Describe(file, *error).c_str());
            return;
        }
        ZorekSimulator::Apply(std::get<ZorekSimConfig::Config>(result));
    } catch (...) {
        std::fputs("zorek-sim: the configuration could not be applied; presenting no device\n", stderr);
    }
}

// Configures on the first call; callers on other threads wait until it is done.
void Configured() {
    static std::once_flag once;
    std::call_once(once, Configure);
}

}  // namespace

extern "C" {

std::int32_t ZOREK_CALL GetInterfaceVersion(void) {
    Configured();
    return ZorekSimCore_GetInterfaceVersion();
}

std::int32_t ZOREK_CALL GetDeviceID(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t* deviceID) {
    Configured();
    return ZorekSimCore_GetDeviceID(USBID, USBFlag, deviceID);
}

std::int32_t ZOREK_CALL GetWriteValue(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t* value, std::int32_t* set,
                                      std::int32_t* protectState) {
    Configured();
    return ZorekSimCore_GetWriteValue(USBID, USBFlag, value, set, protectState);
}

std::int32_t ZOREK_CALL GetTemperature(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t* tmp1,
                                       std::int32_t* tmp2, std::int32_t* tmp3) {
    Configured();
    return ZorekSimCore_GetTemperature(USBID, USBFlag, tmp1, tmp2, tmp3);
}

std::int32_t ZOREK_CALL GetExternalInput(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t* input) {
    Configured();
    return ZorekSimCore_GetExternalInput(USBID, USBFlag, input);
}

std::int32_t ZOREK_CALL DevicePWR(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t mode) {
    Configured();
    return ZorekSimCore_DevicePWR(USBID, USBFlag, mode);
}

std::int32_t ZOREK_CALL SetDisplay(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t contrast) {
    Configured();
    return ZorekSimCore_SetDisplay(USBID, USBFlag, contrast);
}

std::int32_t ZOREK_CALL SetMainValue(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t value, std::int32_t write,
                                     std::int32_t* protectState) {
    Configured();
    return ZorekSimCore_SetMainValue(USBID, USBFlag, value, write, protectState);
}

}  // extern "C"
