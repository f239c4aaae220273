// The platform over libusb-1.0 (Linux): the device-installation services see
// the USB devices with the instrument's vendor and product IDs, a file handle
// is an opened device, a WinUSB interface handle is interface 0 claimed on it,
// and the pipes are bulk transfers on its endpoints.
//
// Contexts: one per device-information set and one per opened device, not one
// for the process. Every call of the library enumerates afresh and releases all
// it acquired before it returns, so a fresh context makes the set a snapshot of
// the bus as it is now (a long-lived context hears of a device plugged in or
// pulled out only through hotplug events that arrive later), and nothing of
// libusb outlives a call: no libusb thread is left running when the host
// unloads the library, and there is no process-wide state to initialise under
// a race. The set keeps its context until it is destroyed; while one context
// lives, libusb shares its device monitor with the next one, so the open's own
// context costs a scan of the bus and not another monitor start.
#include <libusb.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace ZorekPlatform {
namespace {

constexpr std::uint16_t VendorId = 0x04D8;
constexpr std::uint16_t ProductId = 0x00DF;
constexpr int InterfaceNumber = 0;
constexpr std::size_t MaxPortDepth = 7;

constexpr Guid InterfaceClass = {0xA7814B47, 0x27C1, 0x11DD, {0xBD, 0x0B, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};
constexpr Guid UsbDeviceClass = {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

// Codes this backend reports beyond those the library reads.
constexpr std::uint32_t ErrorNotSupported = 50;  // ERROR_NOT_SUPPORTED
constexpr std::uint32_t ErrorBusy = 170;         // ERROR_BUSY

thread_local std::uint32_t lastError = ErrorSuccess;

Bool Fail(std::uint32_t error) {
    lastError = error;
    return 0;
}

std::uint32_t Win32Error(int libusbError) {
    switch (libusbError) {
        case LIBUSB_SUCCESS: return ErrorSuccess;
        case LIBUSB_ERROR_ACCESS: return ErrorAccessDenied;
        case LIBUSB_ERROR_NO_DEVICE:
        case LIBUSB_ERROR_NOT_FOUND: return ErrorFileNotFound;
        case LIBUSB_ERROR_BUSY: return ErrorBusy;
        case LIBUSB_ERROR_TIMEOUT: return ErrorSemTimeout;
        case LIBUSB_ERROR_NO_MEM: return ErrorNotEnoughMemory;
        case LIBUSB_ERROR_INVALID_PARAM: return ErrorInvalidParameter;
        case LIBUSB_ERROR_NOT_SUPPORTED: return ErrorNotSupported;
        default: return ErrorGenFailure;  // I/O error, stall, overflow, interrupted, other
    }
}

// Runs body; a failed allocation or any other exception becomes a failure
// result with its last-error code, never an exception across the core.
template <class Result, class Body>
Result Guarded(Result failure, Body body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        lastError = ErrorNotEnoughMemory;
    } catch (...) {
        lastError = ErrorGenFailure;
    }
    return failure;
}

struct ContextDeleter {
    void operator()(libusb_context* context) const { libusb_exit(context); }
};
using Context = std::unique_ptr<libusb_context, ContextDeleter>;

int OpenContext(Context& context) {
    libusb_context* raw = nullptr;
    int result = libusb_init(&raw);
    if (result == LIBUSB_SUCCESS) context.reset(raw);
    return result;
}

struct DeviceListDeleter {
    void operator()(libusb_device** list) const { libusb_free_device_list(list, 1); }
};
using DeviceList = std::unique_ptr<libusb_device*[], DeviceListDeleter>;

// Where a device sits: its bus and the hub ports from the root hub down.
struct Location {
    std::uint8_t bus = 0;
    std::vector<std::uint8_t> ports;
    auto operator<=>(const Location&) const = default;
};

// The instrument's location and device descriptor, or none for any other
// device (or a root hub).
std::optional<Location> InstrumentLocation(libusb_device* device, libusb_device_descriptor& descriptor) {
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) return std::nullopt;
    if (descriptor.idVendor != VendorId || descriptor.idProduct != ProductId) return std::nullopt;
    std::array<std::uint8_t, MaxPortDepth> ports{};
    int depth = libusb_get_port_numbers(device, ports.data(), static_cast<int>(ports.size()));
    if (depth <= 0) return std::nullopt;
    return Location{libusb_get_bus_number(device), {ports.begin(), ports.begin() + depth}};
}

// Device path: "usb:" and the bus and port path as sysfs names the device,
// for instance "usb:1-2.4" for port 4 of the hub on port 2 of bus 1.
std::u16string PathOf(const Location& location) {
    std::string path = "usb:" + std::to_string(location.bus);
    for (std::size_t i = 0; i < location.ports.size(); ++i)
        path += (i == 0 ? "-" : ".") + std::to_string(location.ports[i]);
    return {path.begin(), path.end()};
}

std::optional<Location> ParsePath(const char16_t* path) {
    std::string text;
    for (; *path != 0; ++path) {
        if (*path > 0x7F || text.size() > 64) return std::nullopt;
        text.push_back(static_cast<char>(*path));
    }
    if (text.rfind("usb:", 0) != 0) return std::nullopt;
    const char* at = text.data() + 4;
    const char* end = text.data() + text.size();
    auto number = [&](std::uint8_t& value) {
        unsigned parsed = 0;
        auto [next, error] = std::from_chars(at, end, parsed);
        if (error != std::errc{} || parsed == 0 || parsed > 255) return false;
        value = static_cast<std::uint8_t>(parsed);
        at = next;
        return true;
    };
    Location location;
    if (!number(location.bus) || at == end || *at++ != '-') return std::nullopt;
    for (;;) {
        if (location.ports.size() == MaxPortDepth || !number(location.ports.emplace_back())) return std::nullopt;
        if (at == end) return location;
        if (*at++ != '.') return std::nullopt;
    }
}

struct Member {
    Location location;
    libusb_device_descriptor descriptor;
};

struct DeviceSet {
    Context context;  // kept for the set's lifetime; see the top of this file
    std::vector<Member> members;
};

// An opened device, shared by its file handle and the interface handles
// initialised on it: the core closes the file before it frees the interface,
// so the device is closed when the last of them lets go.
struct OpenDevice {
    Context context;  // declared first: exited after the handle is closed
    libusb_device_handle* handle = nullptr;
    std::vector<std::uint8_t> pipes;  // bulk endpoints of interface 0
    std::mutex mutex;                 // guards claims
    int claims = 0;                   // interface handles holding interface 0

    OpenDevice(Context owned, libusb_device_handle* opened) : context(std::move(owned)), handle(opened) {}
    OpenDevice(const OpenDevice&) = delete;
    OpenDevice& operator=(const OpenDevice&) = delete;
    ~OpenDevice() { libusb_close(handle); }
};

struct File {
    std::shared_ptr<OpenDevice> device;
};

struct Interface {
    std::shared_ptr<OpenDevice> device;
    std::vector<std::uint8_t> pipes;               // bulk endpoints of interface 0
    std::mutex mutex;                              // guards timeoutMs
    std::map<std::uint8_t, unsigned> timeoutMs{};  // 0 or absent: no time-out

    bool HasPipe(std::uint8_t pipe) const { return std::find(pipes.begin(), pipes.end(), pipe) != pipes.end(); }
    unsigned Timeout(std::uint8_t pipe) {
        std::lock_guard lock(mutex);
        auto found = timeoutMs.find(pipe);
        return found == timeoutMs.end() ? 0 : found->second;
    }
};

// The live records of one kind. A handle is the address of its record; only
// handles in the registry are accepted, and a call works on its own reference
// to the record, so a handle released by another thread meanwhile stays safe.
template <class Record>
class Registry {
public:
    Handle Add(std::shared_ptr<Record> record) {
        Handle handle = record.get();
        std::lock_guard lock(mutex_);
        live_.emplace(handle, std::move(record));
        return handle;
    }
    std::shared_ptr<Record> Find(Handle handle) {
        std::lock_guard lock(mutex_);
        auto found = live_.find(handle);
        return found == live_.end() ? nullptr : found->second;
    }
    std::shared_ptr<Record> Remove(Handle handle) {
        std::lock_guard lock(mutex_);
        auto found = live_.find(handle);
        if (found == live_.end()) return nullptr;
        auto record = std::move(found->second);
        live_.erase(found);
        return record;
    }

private:
    std::mutex mutex_;
    std::map<Handle, std::shared_ptr<Record>> live_;
};

Registry<DeviceSet>& Sets() {
    static Registry<DeviceSet> registry;
    return registry;
}
Registry<File>& Files() {
    static Registry<File> registry;
    return registry;
}
Registry<Interface>& Interfaces() {
    static Registry<Interface> registry;
    return registry;
}

bool SameGuid(const Guid* a, const Guid& b) { return a != nullptr && std::memcmp(a, &b, sizeof b) == 0; }

// The member a filled record names (Reserved holds its index + 1), or null.
const Member* RecordMember(const DeviceSet& set, std::uintptr_t reserved) {
    if (reserved == 0 || reserved > set.members.size()) return nullptr;
    return &set.members[reserved - 1];
}

// REG_MULTI_SZ of the hardware IDs from the device descriptor, in
// little-endian UTF-16: "USB\VID_vvvv&PID_pppp&REV_rrrr", "USB\VID_vvvv&PID_pppp".
std::vector<std::uint8_t> HardwareIds(const libusb_device_descriptor& descriptor) {
    char revision[64];
    std::snprintf(revision, sizeof revision, "USB\\VID_%04X&PID_%04X&REV_%04X", descriptor.idVendor,
                  descriptor.idProduct, descriptor.bcdDevice);
    char plain[64];
    std::snprintf(plain, sizeof plain, "USB\\VID_%04X&PID_%04X", descriptor.idVendor, descriptor.idProduct);
    std::vector<std::uint8_t> bytes;
    for (const char* id : {revision, plain}) {
        for (const char* c = id; *c != 0; ++c) bytes.insert(bytes.end(), {static_cast<std::uint8_t>(*c), 0});
        bytes.insert(bytes.end(), {0, 0});
    }
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

// The bulk endpoints of interface 0 in the active configuration.
int BulkPipes(libusb_device_handle* handle, std::vector<std::uint8_t>& pipes) {
    libusb_config_descriptor* config = nullptr;
    int result = libusb_get_active_config_descriptor(libusb_get_device(handle), &config);
    if (result != LIBUSB_SUCCESS) return result;
    std::unique_ptr<libusb_config_descriptor, decltype(&libusb_free_config_descriptor)> owned(
        config, &libusb_free_config_descriptor);
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& interface = config->interface[i];
        if (interface.num_altsetting < 1) continue;
        const libusb_interface_descriptor& setting = interface.altsetting[0];
        if (setting.bInterfaceNumber != InterfaceNumber) continue;
        for (int e = 0; e < setting.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
            if ((endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) == LIBUSB_TRANSFER_TYPE_BULK)
                pipes.push_back(endpoint.bEndpointAddress);
        }
        return LIBUSB_SUCCESS;
    }
    return LIBUSB_ERROR_NOT_FOUND;
}

Bool Transfer(Handle interfaceHandle, std::uint8_t pipeId, bool in, std::uint8_t* buffer, std::uint32_t bufferLength,
              std::uint32_t* lengthTransferred, void* overlapped) {
    return Guarded<Bool>(0, [&]() -> Bool {
        auto interface = Interfaces().Find(interfaceHandle);
        if (interface == nullptr) return Fail(ErrorInvalidHandle);
        if (overlapped != nullptr) return Fail(ErrorInvalidParameter);  // synchronous transfers only
        if (((pipeId & LIBUSB_ENDPOINT_IN) != 0) != in || !interface->HasPipe(pipeId) || bufferLength > INT_MAX)
            return Fail(ErrorInvalidParameter);
        if (buffer == nullptr && bufferLength != 0) return Fail(ErrorInvalidUserBuffer);
        int transferred = 0;
        int result = libusb_bulk_transfer(interface->device->handle, pipeId, buffer, static_cast<int>(bufferLength),
                                          &transferred, interface->Timeout(pipeId));
        if (lengthTransferred != nullptr) *lengthTransferred = static_cast<std::uint32_t>(transferred);
        if (result != LIBUSB_SUCCESS) return Fail(Win32Error(result));
        return 1;
    });
}

}  // namespace

Handle SetupDiGetClassDevsW(const Guid* classGuid, const char16_t*, Handle, std::uint32_t flags) {
    return Guarded<Handle>(InvalidHandle, [&]() -> Handle {
        auto set = std::make_shared<DeviceSet>();
        if (SameGuid(classGuid, InterfaceClass) && (flags & DigcfDeviceInterface) != 0) {
            int result = OpenContext(set->context);
            if (result != LIBUSB_SUCCESS) {
                lastError = Win32Error(result);
                return InvalidHandle;
            }
            libusb_device** raw = nullptr;
            ssize_t count = libusb_get_device_list(set->context.get(), &raw);
            if (count < 0) {
                lastError = Win32Error(static_cast<int>(count));
                return InvalidHandle;
            }
            DeviceList list(raw);
            for (ssize_t i = 0; i < count; ++i) {
                libusb_device_descriptor descriptor{};
                if (auto location = InstrumentLocation(list[i], descriptor))
                    set->members.push_back({std::move(*location), descriptor});
            }
            std::sort(set->members.begin(), set->members.end(),
                      [](const Member& a, const Member& b) { return a.location < b.location; });
        }
        return Sets().Add(std::move(set));
    });
}

Bool SetupDiEnumDeviceInterfaces(Handle set, DevInfoData* device, const Guid* classGuid, std::uint32_t memberIndex,
                                 DeviceInterfaceData* interfaceData) {
    auto found = Sets().Find(set);
    if (found == nullptr) return Fail(ErrorInvalidHandle);
    if (interfaceData == nullptr || interfaceData->cbSize != sizeof(DeviceInterfaceData))
        return Fail(ErrorInvalidUserBuffer);
    if (device != nullptr) return Fail(ErrorInvalidParameter);  // filtering by device element is not offered
    if (!SameGuid(classGuid, InterfaceClass) || memberIndex >= found->members.size()) return Fail(ErrorNoMoreItems);
    interfaceData->InterfaceClassGuid = InterfaceClass;
    interfaceData->Flags = 1;  // SPINT_ACTIVE
    interfaceData->Reserved = std::uintptr_t{memberIndex} + 1;
    return 1;
}

Bool SetupDiEnumDeviceInfo(Handle set, std::uint32_t memberIndex, DevInfoData* device) {
    auto found = Sets().Find(set);
    if (found == nullptr) return Fail(ErrorInvalidHandle);
    if (device == nullptr || device->cbSize != sizeof(DevInfoData)) return Fail(ErrorInvalidUserBuffer);
    if (memberIndex >= found->members.size()) return Fail(ErrorNoMoreItems);
    device->ClassGuid = UsbDeviceClass;
    device->DevInst = memberIndex + 1;
    device->Reserved = std::uintptr_t{memberIndex} + 1;
    return 1;
}

Bool SetupDiGetDeviceRegistryPropertyW(Handle set, DevInfoData* device, std::uint32_t property, std::uint32_t* dataType,
                                       std::uint8_t* buffer, std::uint32_t bufferSize, std::uint32_t* requiredSize) {
    return Guarded<Bool>(0, [&]() -> Bool {
        auto found = Sets().Find(set);
        if (found == nullptr) return Fail(ErrorInvalidHandle);
        if (device == nullptr || device->cbSize != sizeof(DevInfoData)) return Fail(ErrorInvalidUserBuffer);
        const Member* member = RecordMember(*found, device->Reserved);
        if (member == nullptr) return Fail(ErrorInvalidParameter);
        if (property != SpdrpHardwareId) return Fail(ErrorInvalidData);
        if (buffer == nullptr && bufferSize != 0) return Fail(ErrorInvalidUserBuffer);
        auto bytes = HardwareIds(member->descriptor);
        auto needed = static_cast<std::uint32_t>(bytes.size());
        if (requiredSize != nullptr) *requiredSize = needed;
        if (dataType != nullptr) *dataType = RegMultiSz;
        if (bufferSize < needed) return Fail(ErrorInsufficientBuffer);
        std::copy(bytes.begin(), bytes.end(), buffer);
        return 1;
    });
}

Bool SetupDiGetDeviceInterfaceDetailW(Handle set, DeviceInterfaceData* interfaceData, void* detail,
                                      std::uint32_t detailSize, std::uint32_t* requiredSize, DevInfoData* device) {
    return Guarded<Bool>(0, [&]() -> Bool {
        auto found = Sets().Find(set);
        if (found == nullptr) return Fail(ErrorInvalidHandle);
        if (interfaceData == nullptr || interfaceData->cbSize != sizeof(DeviceInterfaceData))
            return Fail(ErrorInvalidUserBuffer);
        const Member* member = RecordMember(*found, interfaceData->Reserved);
        if (member == nullptr) return Fail(ErrorInvalidParameter);
        if ((detail == nullptr) != (detailSize == 0)) return Fail(ErrorInvalidUserBuffer);
        if (detail != nullptr) {
            std::uint32_t cbSize = 0;
            if (detailSize >= sizeof cbSize) std::memcpy(&cbSize, detail, sizeof cbSize);
            if (detailSize < DetailFixedSize || cbSize != DetailFixedSize) return Fail(ErrorInvalidUserBuffer);
        }
        std::u16string path = PathOf(member->location);
        auto pathBytes = static_cast<std::uint32_t>((path.size() + 1) * sizeof(char16_t));
        std::uint32_t needed = std::max(DetailPathOffset + pathBytes, DetailFixedSize);
        if (requiredSize != nullptr) *requiredSize = needed;
        if (detailSize < needed) return Fail(ErrorInsufficientBuffer);
        std::memcpy(static_cast<std::uint8_t*>(detail) + DetailPathOffset, path.c_str(), pathBytes);
        if (device != nullptr && device->cbSize == sizeof(DevInfoData)) {
            auto index = static_cast<std::uint32_t>(member - found->members.data());
            device->ClassGuid = UsbDeviceClass;
            device->DevInst = index + 1;
            device->Reserved = std::uintptr_t{index} + 1;
        }
        return 1;
    });
}

Bool SetupDiDestroyDeviceInfoList(Handle set) { return Sets().Remove(set) != nullptr ? 1 : Fail(ErrorInvalidHandle); }

void* HeapAlloc(std::size_t bytes) {
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) lastError = ErrorNotEnoughMemory;
    return block;
}

Bool HeapFree(void* block) {
    std::free(block);
    return 1;
}

Handle CreateFileW(const char16_t* fileName, std::uint32_t, std::uint32_t, void*, std::uint32_t creationDisposition,
                   std::uint32_t, Handle templateFile) {
    return Guarded<Handle>(InvalidHandle, [&]() -> Handle {
        if (fileName == nullptr || creationDisposition != OpenExisting || templateFile != nullptr) {
            lastError = ErrorInvalidParameter;
            return InvalidHandle;
        }
        auto wanted = ParsePath(fileName);
        if (!wanted) {
            lastError = ErrorFileNotFound;
            return InvalidHandle;
        }
        Context context;
        int result = OpenContext(context);
        if (result != LIBUSB_SUCCESS) {
            lastError = Win32Error(result);
            return InvalidHandle;
        }
        libusb_device** raw = nullptr;
        ssize_t count = libusb_get_device_list(context.get(), &raw);
        if (count < 0) {
            lastError = Win32Error(static_cast<int>(count));
            return InvalidHandle;
        }
        DeviceList list(raw);
        auto device = std::find_if(list.get(), list.get() + count, [&](libusb_device* candidate) {
            libusb_device_descriptor descriptor{};
            return InstrumentLocation(candidate, descriptor) == wanted;
        });
        if (device == list.get() + count) {
            lastError = ErrorFileNotFound;
            return InvalidHandle;
        }
        libusb_device_handle* handle = nullptr;
        result = libusb_open(*device, &handle);
        if (result != LIBUSB_SUCCESS) {
            lastError = Win32Error(result);
            return InvalidHandle;
        }
        auto file = std::make_shared<File>();
        file->device = std::make_shared<OpenDevice>(std::move(context), handle);
        Handle opened = Files().Add(std::move(file));
        lastError = ErrorSuccess;
        return opened;
    });
}

Bool CloseHandle(Handle object) { return Files().Remove(object) != nullptr ? 1 : Fail(ErrorInvalidHandle); }

std::uint32_t GetLastError() { return lastError; }

Bool WinUsb_Initialize(Handle device, Handle* interfaceHandle) {
    return Guarded<Bool>(0, [&]() -> Bool {
        auto file = Files().Find(device);
        if (file == nullptr) return Fail(ErrorInvalidHandle);
        if (interfaceHandle == nullptr) return Fail(ErrorInvalidParameter);
        OpenDevice& opened = *file->device;
        auto interface = std::make_shared<Interface>();
        interface->device = file->device;
        std::lock_guard lock(opened.mutex);
        if (opened.claims == 0) {
            std::vector<std::uint8_t> pipes;
            int result = BulkPipes(opened.handle, pipes);
            if (result != LIBUSB_SUCCESS) return Fail(Win32Error(result));
            // Detaches a kernel driver bound to the interface, and attaches it again on release.
            libusb_set_auto_detach_kernel_driver(opened.handle, 1);
            result = libusb_claim_interface(opened.handle, InterfaceNumber);
            if (result != LIBUSB_SUCCESS) return Fail(Win32Error(result));
            opened.pipes = std::move(pipes);
        }
        interface->pipes = opened.pipes;
        ++opened.claims;
        try {
            *interfaceHandle = Interfaces().Add(std::move(interface));
        } catch (...) {
            if (--opened.claims == 0) libusb_release_interface(opened.handle, InterfaceNumber);
            throw;
        }
        return 1;
    });
}

Bool WinUsb_SetPipePolicy(Handle interfaceHandle, std::uint8_t pipeId, std::uint32_t policyType,
                          std::uint32_t valueLength, void* value) {
    return Guarded<Bool>(0, [&]() -> Bool {
        auto interface = Interfaces().Find(interfaceHandle);
        if (interface == nullptr) return Fail(ErrorInvalidHandle);
        if (policyType != PipeTransferTimeout || valueLength != sizeof(std::uint32_t) || value == nullptr ||
            !interface->HasPipe(pipeId))
            return Fail(ErrorInvalidParameter);
        std::uint32_t milliseconds = 0;
        std::memcpy(&milliseconds, value, sizeof milliseconds);
        std::lock_guard lock(interface->mutex);
        interface->timeoutMs[pipeId] = milliseconds;
        return 1;
    });
}

Bool WinUsb_WritePipe(Handle interfaceHandle, std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t bufferLength,
                      std::uint32_t* lengthTransferred, void* overlapped) {
    return Transfer(interfaceHandle, pipeId, false, buffer, bufferLength, lengthTransferred, overlapped);
}

Bool WinUsb_ReadPipe(Handle interfaceHandle, std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t bufferLength,
                     std::uint32_t* lengthTransferred, void* overlapped) {
    return Transfer(interfaceHandle, pipeId, true, buffer, bufferLength, lengthTransferred, overlapped);
}

Bool WinUsb_Free(Handle interfaceHandle) {
    auto interface = Interfaces().Remove(interfaceHandle);
    if (interface == nullptr) return Fail(ErrorInvalidHandle);
    OpenDevice& opened = *interface->device;
    std::lock_guard lock(opened.mutex);
    if (--opened.claims == 0) libusb_release_interface(opened.handle, InterfaceNumber);
    return 1;
}

// Linux raises no structured exception that a call could catch.
bool GuardAccessViolation(void (*body)(void* context), void* context) {
    body(context);
    return true;
}

}  // namespace ZorekPlatform
