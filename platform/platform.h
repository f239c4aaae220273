// The operating-system services that the library calls: device enumeration,
// the process heap, file handles and WinUSB pipe transfers. One backend folder
// beside this header implements every function; the build links exactly one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ZorekPlatform {

using Bool = std::int32_t;  // FALSE = 0; anything else is a platform-defined truth value
using Handle = void*;       // device-information set, file handle, WinUSB interface handle

inline const Handle InvalidHandle = reinterpret_cast<Handle>(static_cast<std::intptr_t>(-1));

struct Guid {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};

// SP_DEVICE_INTERFACE_DATA: 28 bytes on 32-bit builds, 32 on 64-bit builds.
struct DeviceInterfaceData {
    std::uint32_t cbSize;
    Guid InterfaceClassGuid;
    std::uint32_t Flags;
    std::uintptr_t Reserved;
};

// SP_DEVINFO_DATA: 28 bytes on 32-bit builds, 32 on 64-bit builds.
struct DevInfoData {
    std::uint32_t cbSize;
    Guid ClassGuid;
    std::uint32_t DevInst;
    std::uintptr_t Reserved;
};

// SP_DEVICE_INTERFACE_DETAIL_DATA_W: cbSize, then the NUL-terminated UTF-16
// device path from byte 4. The record is variable-sized and lives on the heap;
// its fixed part (cbSize and one character) is packed to 6 bytes on 32-bit
// builds and padded to 8 on 64-bit builds.
inline constexpr std::uint32_t DetailPathOffset = 4;
inline constexpr std::uint32_t DetailFixedSize = sizeof(void*) == 4 ? 6 : 8;

// Error codes the library reads.
inline constexpr std::uint32_t ErrorSuccess = 0;
inline constexpr std::uint32_t ErrorFileNotFound = 2;
inline constexpr std::uint32_t ErrorAccessDenied = 5;
inline constexpr std::uint32_t ErrorInvalidHandle = 6;
inline constexpr std::uint32_t ErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t ErrorInvalidData = 13;
inline constexpr std::uint32_t ErrorGenFailure = 31;
inline constexpr std::uint32_t ErrorInvalidParameter = 87;
inline constexpr std::uint32_t ErrorSemTimeout = 121;
inline constexpr std::uint32_t ErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t ErrorNoMoreItems = 259;
inline constexpr std::uint32_t ErrorIoPending = 997;
inline constexpr std::uint32_t ErrorInvalidUserBuffer = 1784;

// Argument values.
inline constexpr std::uint32_t DigcfPresent = 0x02;
inline constexpr std::uint32_t DigcfDeviceInterface = 0x10;
inline constexpr std::uint32_t SpdrpHardwareId = 1;
inline constexpr std::uint32_t RegMultiSz = 7;
inline constexpr std::uint32_t GenericRead = 0x80000000;
inline constexpr std::uint32_t GenericWrite = 0x40000000;
inline constexpr std::uint32_t FileShareRead = 0x1;
inline constexpr std::uint32_t FileShareWrite = 0x2;
inline constexpr std::uint32_t OpenExisting = 3;
inline constexpr std::uint32_t FileFlagOverlapped = 0x40000000;
inline constexpr std::uint32_t PipeTransferTimeout = 0x03;

// Device installation services.
Handle SetupDiGetClassDevsW(const Guid* classGuid, const char16_t* enumerator, Handle parent, std::uint32_t flags);
Bool SetupDiEnumDeviceInterfaces(Handle set, DevInfoData* device, const Guid* classGuid, std::uint32_t memberIndex,
                                 DeviceInterfaceData* interfaceData);
Bool SetupDiEnumDeviceInfo(Handle set, std::uint32_t memberIndex, DevInfoData* device);
Bool SetupDiGetDeviceRegistryPropertyW(Handle set, DevInfoData* device, std::uint32_t property, std::uint32_t* dataType,
                                       std::uint8_t* buffer, std::uint32_t bufferSize, std::uint32_t* requiredSize);
Bool SetupDiGetDeviceInterfaceDetailW(Handle set, DeviceInterfaceData* interfaceData, void* detail,
                                      std::uint32_t detailSize, std::uint32_t* requiredSize, DevInfoData* device);
Bool SetupDiDestroyDeviceInfoList(Handle set);

// Process heap. A failed allocation returns null.
void* HeapAlloc(std::size_t bytes);
Bool HeapFree(void* block);

// Files and the calling thread's last-error code.
Handle CreateFileW(const char16_t* fileName, std::uint32_t desiredAccess, std::uint32_t shareMode,
                   void* securityAttributes, std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes,
                   Handle templateFile);
Bool CloseHandle(Handle object);
std::uint32_t GetLastError();

// WinUSB.
Bool WinUsb_Initialize(Handle device, Handle* interfaceHandle);
Bool WinUsb_SetPipePolicy(Handle interfaceHandle, std::uint8_t pipeId, std::uint32_t policyType,
                          std::uint32_t valueLength, void* value);
Bool WinUsb_WritePipe(Handle interfaceHandle, std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t bufferLength,
                      std::uint32_t* lengthTransferred, void* overlapped);
Bool WinUsb_ReadPipe(Handle interfaceHandle, std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t bufferLength,
                     std::uint32_t* lengthTransferred, void* overlapped);
Bool WinUsb_Free(Handle interfaceHandle);

// Runs body(context) and returns true, or returns false when an access-violation
// fault raised inside it was caught. Only raw platform calls belong inside:
// objects with destructors between the fault and the guard are not unwound.
bool GuardAccessViolation(void (*body)(void* context), void* context);

}  // namespace ZorekPlatform
