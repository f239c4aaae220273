// The platform over the real Windows services: setupapi.dll for the device
// enumeration, kernel32.dll for the process heap and the files, winusb.dll for
// the pipes. Every function forwards to the wide-character call of the same
// name; the records of platform.h share the layout of the Windows records.
#include <windows.h>
// After windows.h:
#include <setupapi.h>
#include <winusb.h>

#include <cstddef>

#include "platform/platform.h"

namespace ZorekPlatform {
namespace {

static_assert(sizeof(Bool) == sizeof(BOOL));
static_assert(sizeof(std::uint32_t) == sizeof(DWORD) && sizeof(std::uint32_t) == sizeof(ULONG));
static_assert(sizeof(char16_t) == sizeof(WCHAR));

static_assert(sizeof(Guid) == sizeof(GUID));
static_assert(offsetof(Guid, Data1) == offsetof(GUID, Data1) && offsetof(Guid, Data2) == offsetof(GUID, Data2) &&
              offsetof(Guid, Data3) == offsetof(GUID, Data3) && offsetof(Guid, Data4) == offsetof(GUID, Data4));

static_assert(sizeof(DeviceInterfaceData) == sizeof(SP_DEVICE_INTERFACE_DATA));
static_assert(offsetof(DeviceInterfaceData, cbSize) == offsetof(SP_DEVICE_INTERFACE_DATA, cbSize) &&
              offsetof(DeviceInterfaceData, InterfaceClassGuid) ==
                  offsetof(SP_DEVICE_INTERFACE_DATA, InterfaceClassGuid) &&
              offsetof(DeviceInterfaceData, Flags) == offsetof(SP_DEVICE_INTERFACE_DATA, Flags) &&
              offsetof(DeviceInterfaceData, Reserved) == offsetof(SP_DEVICE_INTERFACE_DATA, Reserved));

static_assert(sizeof(DevInfoData) == sizeof(SP_DEVINFO_DATA));
static_assert(offsetof(DevInfoData, cbSize) == offsetof(SP_DEVINFO_DATA, cbSize) &&
              offsetof(DevInfoData, ClassGuid) == offsetof(SP_DEVINFO_DATA, ClassGuid) &&
              offsetof(DevInfoData, DevInst) == offsetof(SP_DEVINFO_DATA, DevInst) &&
              offsetof(DevInfoData, Reserved) == offsetof(SP_DEVINFO_DATA, Reserved));

static_assert(DetailFixedSize == sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
static_assert(DetailPathOffset == offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath));

static_assert(ErrorNoMoreItems == ERROR_NO_MORE_ITEMS && ErrorSuccess == ERROR_SUCCESS);
static_assert(DigcfPresent == DIGCF_PRESENT && DigcfDeviceInterface == DIGCF_DEVICEINTERFACE);
static_assert(SpdrpHardwareId == SPDRP_HARDWAREID && RegMultiSz == REG_MULTI_SZ);
static_assert(GenericRead == GENERIC_READ && GenericWrite == GENERIC_WRITE);
static_assert(FileShareRead == FILE_SHARE_READ && FileShareWrite == FILE_SHARE_WRITE);
static_assert(OpenExisting == OPEN_EXISTING && FileFlagOverlapped == FILE_FLAG_OVERLAPPED);
static_assert(PipeTransferTimeout == PIPE_TRANSFER_TIMEOUT);

const GUID* Native(const Guid* guid) { return reinterpret_cast<const GUID*>(guid); }
PCWSTR Native(const char16_t* text) { return reinterpret_cast<PCWSTR>(text); }
PDWORD Native(std::uint32_t* value) { return reinterpret_cast<PDWORD>(value); }

}  // namespace

Handle SetupDiGetClassDevsW(const Guid* classGuid, const char16_t* enumerator, Handle parent, std::uint32_t flags) {
    return ::SetupDiGetClassDevsW(Native(classGuid), Native(enumerator), static_cast<HWND>(parent), flags);
}

Bool SetupDiEnumDeviceInterfaces(Handle set, DevInfoData* device, const Guid* classGuid, std::uint32_t memberIndex,
                                 DeviceInterfaceData* interfaceData) {
    return ::SetupDiEnumDeviceInterfaces(set, reinterpret_cast<PSP_DEVINFO_DATA>(device), Native(classGuid),
                                         memberIndex, reinterpret_cast<PSP_DEVICE_INTERFACE_DATA>(interfaceData));
}

Bool SetupDiEnumDeviceInfo(Handle set, std::uint32_t memberIndex, DevInfoData* device) {
    return ::SetupDiEnumDeviceInfo(set, memberIndex, reinterpret_cast<PSP_DEVINFO_DATA>(device));
}

Bool SetupDiGetDeviceRegistryPropertyW(Handle set, DevInfoData* device, std::uint32_t property, std::uint32_t* dataType,
                                       std::uint8_t* buffer, std::uint32_t bufferSize, std::uint32_t* requiredSize) {
    return ::SetupDiGetDeviceRegistryPropertyW(set, reinterpret_cast<PSP_DEVINFO_DATA>(device), property,
                                               Native(dataType), buffer, bufferSize, Native(requiredSize));
}

Bool SetupDiGetDeviceInterfaceDetailW(Handle set, DeviceInterfaceData* interfaceData, void* detail,
                                      std::uint32_t detailSize, std::uint32_t* requiredSize, DevInfoData* device) {
    return ::SetupDiGetDeviceInterfaceDetailW(set, reinterpret_cast<PSP_DEVICE_INTERFACE_DATA>(interfaceData),
                                              static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(detail), detailSize,
                                              Native(requiredSize), reinterpret_cast<PSP_DEVINFO_DATA>(device));
}

Bool SetupDiDestroyDeviceInfoList(Handle set) { return ::SetupDiDestroyDeviceInfoList(set); }

void* HeapAlloc(std::size_t bytes) { return ::HeapAlloc(::GetProcessHeap(), 0, bytes); }

Bool HeapFree(void* block) { return ::HeapFree(::GetProcessHeap(), 0, block); }

Handle CreateFileW(const char16_t* fileName, std::uint32_t desiredAccess, std::uint32_t shareMode,
                   void* securityAttributes, std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes,
                   Handle templateFile) {
    // The caller judges the open by the last-error code alone, so a code left
    // by an earlier call must not outlive a successful open.
    ::SetLastError(ERROR_SUCCESS);
    return ::CreateFileW(Native(fileName), desiredAccess, shareMode,
                         static_cast<LPSECURITY_ATTRIBUTES>(securityAttributes), creationDisposition,
                         flagsAndAttributes, templateFile);
}

Bool CloseHandle(Handle object) {
    // A failed open returns INVALID_HANDLE_VALUE, which the caller hands back
    // here like any handle. It is no handle of this library (the same value
    // names the current process), so it is not passed on: closing it succeeds
    // and does nothing.
    if (object == INVALID_HANDLE_VALUE) return TRUE;
    return ::CloseHandle(object);
}

std::uint32_t GetLastError() { return ::GetLastError(); }

Bool WinUsb_Initialize(Handle device, Handle* interfaceHandle) { return ::WinUsb_Initialize(device, interfaceHandle); }

Bool WinUsb_SetPipePolicy(Handle interfaceHandle, std::uint8_t pipeId, std::uint32_t policyType,
                          std::uint32_t valueLength, void* value) {
    return ::WinUsb_SetPipePolicy(interfaceHandle, pipeId, policyType, valueLength, value);
}

Bool WinUsb_WritePipe(Handle interfaceHandle, std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t bufferLength,
                      std::uint32_t* lengthTransferred, void* overlapped) {
    return ::WinUsb_WritePipe(interfaceHandle, pipeId, buffer, bufferLength,
                              reinterpret_cast<PULONG>(lengthTransferred), static_cast<LPOVERLAPPED>(overlapped));
}

Bool WinUsb_ReadPipe(Handle interfaceHandle, std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t bufferLength,
                     std::uint32_t* lengthTransferred, void* overlapped) {
    return ::WinUsb_ReadPipe(interfaceHandle, pipeId, buffer, bufferLength, reinterpret_cast<PULONG>(lengthTransferred),
                             static_cast<LPOVERLAPPED>(overlapped));
}

Bool WinUsb_Free(Handle interfaceHandle) { return ::WinUsb_Free(interfaceHandle); }

}  // namespace ZorekPlatform
