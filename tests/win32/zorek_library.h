// zorek.dll as a host program sees it: loaded with LoadLibrary, its exports
// found by name, every call made the C way through a thunk that checks the
// stack pointer and the callee-saved registers afterwards.
#pragma once

#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

struct Export {
    const char* name;
    WORD ordinal;
    int arguments;  // 32-bit arguments
};

// The eight exports, in alphabetical order.
extern const Export Exports[8];

// Calls function with the 32-bit arguments, pushing them right to left and
// removing them after the call. frameIntact is false when the stack pointer,
// ebx, esi or edi differed after the call from before it.
extern "C" std::int32_t ZorekCallCdecl(const void* function, const std::int32_t* arguments, std::int32_t count,
                                       std::int32_t* frameIntact);

class ZorekLibrary {
public:
    explicit ZorekLibrary(const wchar_t* path = L"zorek.dll");
    ~ZorekLibrary();
    ZorekLibrary(const ZorekLibrary&) = delete;
    ZorekLibrary& operator=(const ZorekLibrary&) = delete;

    HMODULE Module() const { return module_; }
    DWORD LoadError() const { return loadError_; }
    const void* Find(const char* name) const;

    // Calls an export by name; a call that leaves the frame changed or names
    // no export is a test failure.
    std::int32_t Call(const char* name, std::initializer_list<std::int32_t> arguments) const;

    // The eight functions, called through Call.
    std::int32_t GetInterfaceVersion() const;
    std::int32_t GetDeviceID(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t* deviceID) const;
    std::int32_t GetWriteValue(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t* value, std::int32_t* set,
                               std::int32_t* protectState) const;
    std::int32_t GetTemperature(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t* tmp1, std::int32_t* tmp2,
                                std::int32_t* tmp3) const;
    std::int32_t GetExternalInput(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t* input) const;
    std::int32_t DevicePWR(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t mode) const;
    std::int32_t SetDisplay(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t contrast) const;
    std::int32_t SetMainValue(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t value, std::int32_t write,
                              std::int32_t* protectState) const;

private:
    HMODULE module_;
    DWORD loadError_;
};

// A pointer as the 32-bit argument it is on this platform.
inline std::int32_t Arg(const void* pointer) {
    return static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(pointer));
}

// The names in the export directory of a loaded module, in table order, with
// their ordinals; and the number of exported functions.
struct ExportDirectory {
    DWORD base = 0;
    DWORD functions = 0;
    std::vector<std::pair<std::string, WORD>> names;
};
ExportDirectory ReadExportDirectory(HMODULE module);
