// The simulated platform: device installation services, the process heap, file
// handles and WinUSB, with the devices, faults and call record of sim.h.
#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>

#include "platform/platform.h"
#include "platform/sim/sim.h"

namespace ZorekSim {
namespace {

using namespace ZorekPlatform;

constexpr Guid InterfaceClass = {0xA7814B47, 0x27C1, 0x11DD, {0xBD, 0x0B, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};
constexpr Guid UsbDeviceClass = {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr std::uintptr_t SetBase = 0x10000;
constexpr std::uintptr_t FileBase = 0x20000;
constexpr std::uintptr_t InterfaceBase = 0x30000;
constexpr std::uintptr_t BogusInterface = 0xBAD0000;
constexpr std::uint8_t OutPipe = 0x01;
constexpr std::uint8_t InPipe = 0x81;

bool SameGuid(const Guid* a, const Guid& b) { return a != nullptr && std::memcmp(a, &b, sizeof b) == 0; }

struct Pending {
    Reply::Kind kind;
    Packet packet;
    std::uint32_t length;
    int command = -1;  // command byte of the request it answers
};

struct SimDevice {
    Device config;
    int opens = 0;
};

// Replies not yet read belong to the interface handle that wrote the request
// and are gone with it.
struct Interface {
    int device;
    std::map<std::uint8_t, std::uint32_t> timeoutMs{};
    std::deque<Pending> replies{};
};

struct ActiveFault {
    Fault fault;
    int seen = 0;
};

struct State {
    std::mutex mutex;
    std::condition_variable wake;
    std::uint64_t releaseGeneration = 0;
    std::vector<SimDevice> devices;
    std::map<std::uintptr_t, std::vector<int>> sets;
    std::map<std::uintptr_t, int> files;
    std::map<std::uintptr_t, Interface> interfaces;
    std::set<void*> heap;
    std::vector<ActiveFault> faults;
    std::vector<CallRecord> calls;
    std::uintptr_t nextHandle = 1;
    double timeoutScale = 1.0;
    bool recording = true;
    bool requestOutstanding = false;
    std::size_t interleaveViolations = 0;
    std::size_t caughtFaults = 0;
};

State& Sim() {
    static State state;
    return state;
}

thread_local std::uint32_t lastError = 0;

std::uint64_t Value(const void* pointer) { return reinterpret_cast<std::uintptr_t>(pointer); }
std::uintptr_t Key(Handle handle) { return reinterpret_cast<std::uintptr_t>(handle); }
Handle MakeHandle(std::uintptr_t base, State& s) { return reinterpret_cast<Handle>(base + s.nextHandle++); }

bool Matches(const Fault& fault, Call call, int device, int command) {
    return fault.call == call && (fault.device < 0 || fault.device == device) &&
           (!fault.command || *fault.command == command) &&
           (!fault.thread || *fault.thread == std::this_thread::get_id());
}

// The fault due for this call, if any; counts the call. device and command
// describe the call (-1 when it concerns no device or no request).
std::optional<Fault> TakeFault(State& s, Call call, int device = -1, int command = -1) {
    std::optional<Fault> due;
    for (auto it = s.faults.begin(); it != s.faults.end();) {
        if (!Matches(it->fault, call, device, command)) {
            ++it;
            continue;
        }
        ++it->seen;
        if (it->fault.occurrence == 0) {
            if (!due) due = it->fault;
            ++it;
        } else if (it->seen == it->fault.occurrence) {
            if (!due) due = it->fault;
            it = s.faults.erase(it);
        } else {
            ++it;
        }
    }
    return due;
}

void Keep(State& s, CallRecord&& record) {
    if (s.recording) s.calls.push_back(std::move(record));
}

void Record(State& s, Call call, std::vector<std::uint64_t> args, std::uint64_t result) {
    if (!s.recording) return;
    CallRecord record{call, std::this_thread::get_id(), std::move(args)};
    record.result = result;
    Keep(s, std::move(record));
}

// Sets the result of the call just recorded.
void Result(State& s, std::uint64_t result) {
    if (s.recording) s.calls.back().result = result;
}

Bool Fail(std::uint32_t error, Bool result = 0) {
    lastError = error;
    return result;
}

void RaiseIfDue(const std::optional<Fault>& fault) {
    if (fault && fault->kind == Fault::Kind::AccessViolation) throw AccessViolation{};
}

std::vector<std::uint8_t> HardwareIdBytes(const Device& device) {
    if (device.hardwareIdBytes) return *device.hardwareIdBytes;
    std::vector<std::uint8_t> bytes;
    auto put = [&bytes](char16_t c) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    };
    for (const auto& id : device.hardwareIds) {
        for (char16_t c : id) put(c);
        put(0);
    }
    put(0);
    return bytes;
}

std::vector<std::uint8_t> PathBytes(const Device& device) {
    if (device.pathBytes) return *device.pathBytes;
    std::vector<std::uint8_t> bytes;
    for (char16_t c : device.path) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

const std::vector<int>* FindSet(State& s, Handle set) {
    auto it = s.sets.find(Key(set));
    return it == s.sets.end() ? nullptr : &it->second;
}

Interface* FindInterface(State& s, Handle handle) {
    auto it = s.interfaces.find(Key(handle));
    return it == s.interfaces.end() ? nullptr : &it->second;
}

// Device behind a filled record of this set, or -1.
int RecordDevice(const std::vector<int>& set, std::uintptr_t reserved) {
    if (reserved == 0) return -1;
    int device = static_cast<int>(reserved - 1);
    return std::find(set.begin(), set.end(), device) == set.end() ? -1 : device;
}

Pending Answer(SimDevice& device, const Packet& request) {
    auto override = device.config.replies.find(request[0]);
    Reply reply = override == device.config.replies.end() ? Reply{} : override->second;
    if (device.config.beforeAnswer) device.config.beforeAnswer(device.config.state);
    Pending pending{reply.kind, {}, 64, request[0]};
    switch (reply.kind) {
        case Reply::Kind::Normal:
        case Reply::Kind::Short:
            if (auto answer = ZorekInstrument::Answer(device.config.state, request)) {
                pending.packet = *answer;
                if (reply.kind == Reply::Kind::Short) pending.length = std::min<std::uint32_t>(reply.length, 64);
            } else {
                pending.kind = Reply::Kind::Stall;
            }
            break;
        case Reply::Kind::Echo: pending.packet = request; break;
        case Reply::Kind::Bytes:
            pending.length = static_cast<std::uint32_t>(std::min<std::size_t>(reply.bytes.size(), 64));
            std::copy_n(reply.bytes.begin(), pending.length, pending.packet.begin());
            break;
        case Reply::Kind::Empty: pending.length = 0; break;
        case Reply::Kind::Silent:
        case Reply::Kind::Stall: break;
    }
    return pending;
}

std::chrono::microseconds LatencyOf(State& s, Handle interfaceHandle) {
    std::lock_guard lock(s.mutex);
    Interface* found = FindInterface(s, interfaceHandle);
    if (found == nullptr || found->device >= static_cast<int>(s.devices.size())) return {};
    return s.devices[found->device].config.latency;
}

}  // namespace

const char* Name(Call call) {
    switch (call) {
        case Call::SetupDiGetClassDevs: return "SetupDiGetClassDevs";
        case Call::SetupDiEnumDeviceInterfaces: return "SetupDiEnumDeviceInterfaces";
        case Call::SetupDiEnumDeviceInfo: return "SetupDiEnumDeviceInfo";
        case Call::SetupDiGetDeviceRegistryProperty: return "SetupDiGetDeviceRegistryProperty";
        case Call::SetupDiGetDeviceInterfaceDetail: return "SetupDiGetDeviceInterfaceDetail";
        case Call::SetupDiDestroyDeviceInfoList: return "SetupDiDestroyDeviceInfoList";
        case Call::HeapAlloc: return "HeapAlloc";
        case Call::HeapFree: return "HeapFree";
        case Call::CreateFile: return "CreateFile";
        case Call::CloseHandle: return "CloseHandle";
        case Call::GetLastError: return "GetLastError";
        case Call::WinUsbInitialize: return "WinUsb_Initialize";
        case Call::WinUsbSetPipePolicy: return "WinUsb_SetPipePolicy";
        case Call::WinUsbWritePipe: return "WinUsb_WritePipe";
        case Call::WinUsbReadPipe: return "WinUsb_ReadPipe";
        case Call::WinUsbFree: return "WinUsb_Free";
    }
    return "?";
}

void Reset() {
    State& s = Sim();
    std::lock_guard lock(s.mutex);
    for (void* block : s.heap) std::free(block);
    s.devices.clear();
    s.sets.clear();
    s.files.clear();
    s.interfaces.clear();
    s.heap.clear();
    s.faults.clear();
    s.calls.clear();
    s.timeoutScale = 1.0;
    s.recording = true;
    s.requestOutstanding = false;
    s.interleaveViolations = 0;
    s.caughtFaults = 0;
    ++s.releaseGeneration;
    s.wake.notify_all();
}

int AddDevice(Device device) {
    State& s = Sim();
    std::lock_guard lock(s.mutex);
    int index = static_cast<int>(s.devices.size());
    if (device.path.empty()) {
        std::string path =
            "\\\\?\\usb#vid_04d8&pid_00df#sim" + std::to_string(index) + "#{a7814b47-27c1-11dd-bd0b-0800200c9a66}";
        device.path.assign(path.begin(), path.end());
    }
    s.devices.push_back(SimDevice{std::move(device)});
    return index;
}

void SetPresent(int device, bool present) {
    std::lock_guard lock(Sim().mutex);
    Sim().devices.at(device).config.present = present;
}

void SetReply(int device, std::uint8_t command, Reply reply) {
    std::lock_guard lock(Sim().mutex);
    Sim().devices.at(device).config.replies[command] = std::move(reply);
}

void SetLatency(int device, std::chrono::microseconds latency) {
    std::lock_guard lock(Sim().mutex);
    Sim().devices.at(device).config.latency = latency;
}

ZorekInstrument::State GetState(int device) {
    std::lock_guard lock(Sim().mutex);
    return Sim().devices.at(device).config.state;
}

void SetState(int device, const ZorekInstrument::State& state) {
    std::lock_guard lock(Sim().mutex);
    Sim().devices.at(device).config.state = state;
}

std::u16string DevicePath(int device) {
    std::lock_guard lock(Sim().mutex);
    return Sim().devices.at(device).config.path;
}

void InjectFault(const Fault& fault) {
    std::lock_guard lock(Sim().mutex);
    Sim().faults.push_back({fault});
}

void ClearFaults(std::optional<std::thread::id> thread) {
    std::lock_guard lock(Sim().mutex);
    std::erase_if(Sim().faults, [&](const ActiveFault& f) { return !thread || f.fault.thread == thread; });
}

void SetTimeoutScale(double scale) {
    std::lock_guard lock(Sim().mutex);
    Sim().timeoutScale = scale;
}

void ReleaseBlockedReads() {
    std::lock_guard lock(Sim().mutex);
    ++Sim().releaseGeneration;
    Sim().wake.notify_all();
}

void SetRecording(bool on) {
    std::lock_guard lock(Sim().mutex);
    Sim().recording = on;
}

std::vector<CallRecord> Calls() {
    std::lock_guard lock(Sim().mutex);
    return Sim().calls;
}

std::vector<Call> CallSequence() {
    std::vector<Call> sequence;
    for (const auto& record : Calls()) sequence.push_back(record.call);
    return sequence;
}

void ClearCalls() {
    std::lock_guard lock(Sim().mutex);
    Sim().calls.clear();
}

OpenResources Open() {
    State& s = Sim();
    std::lock_guard lock(s.mutex);
    return {s.sets.size(), s.files.size(), s.interfaces.size(), s.heap.size()};
}

std::size_t InterleaveViolations() {
    std::lock_guard lock(Sim().mutex);
    return Sim().interleaveViolations;
}

std::size_t CaughtFaults() {
    std::lock_guard lock(Sim().mutex);
    return Sim().caughtFaults;
}

}  // namespace ZorekSim

namespace ZorekPlatform {

using namespace ZorekSim;

Handle SetupDiGetClassDevsW(const Guid* classGuid, const char16_t* enumerator, Handle parent, std::uint32_t flags) {
    State& s = Sim();
    std::lock_guard lock(s.mutex);
    auto fault = TakeFault(s, Call::SetupDiGetClassDevs);
    Handle set = InvalidHandle;
    if (fault) {
        lastError = fault->error;
    } else {
        set = MakeHandle(SetBase, s);
        auto& members = s.sets[Key(set)];
        bool wanted = SameGuid(classGuid, InterfaceClass) && (flags & DigcfDeviceInterface) != 0;
        for (int i = 0; wanted && i < static_cast<int>(s.devices.size()); ++i)
            if (s.devices[i].config.present || (flags & DigcfPresent) == 0) members.push_back(i);
    }
    Record(s, Call::SetupDiGetClassDevs, {SameGuid(classGuid, InterfaceClass), Value(enumerator), Value(parent), flags},
           Value(set));
    return set;
}

Bool SetupDiEnumDeviceInterfaces(Handle set, DevInfoData* device, const Guid* classGuid, std::uint32_t memberIndex,
                                 DeviceInterfaceData* interfaceData) {
    State& s = Sim();
    std::lock_guard lock(s.mutex);
    std::uint32_t cbSize = interfaceData != nullptr ? interfaceData->cbSize : 0;
    auto fault = TakeFault(s, Call::SetupDiEnumDeviceInterfaces);
    auto members = FindSet(s, set);
    Bool result = 1;
    if (fault) {
        result = Fail(fault->error, fault->result);
    } else if (members == nullptr) {
        result = Fail(ErrorInvalidHandle);
    } else if (interfaceData == nullptr || cbSize != sizeof(DeviceInterfaceData)) {
        result = Fail(ErrorInvalidUserBuffer);
    } else if (device != nullptr) {
        result = Fail(ErrorInvalidParameter);  // filtering by device is not simulated
    } else if (!SameGuid(classGuid, InterfaceClass) || memberIndex >= members->size()) {
        result = Fail(ErrorNoMoreItems);
    } else {
        interfaceData->InterfaceClassGuid = InterfaceClass;
        interfaceData->Flags = 1;  // SPINT_ACTIVE
        interfaceData->Reserved = static_cast<std::uintptr_t>((*members)[memberIndex]) + 1;
    }
    Record(s, Call::SetupDiEnumDeviceInterfaces,
           {Key(set), Value(device), SameGuid(classGuid, InterfaceClass), memberIndex, cbSize}, result);
    return result;
}

Bool SetupDiEnumDeviceInfo(Handle set, std::uint32_t memberIndex, DevInfoData* device) {
    State& s = Sim();
    std::lock_guard lock(s.mutex);
    std::uint32_t cbSize = device != nullptr ? device->cbSize : 0;
    auto fault = TakeFault(s, Call::SetupDiEnumDeviceInfo);
    auto members = FindSet(s, set);
    Bool result = 1;
    if (fault) {
        result = Fail(fault->error, fault->result);
    } else if (members == nullptr) {
        result = Fail(ErrorInvalidHandle);
    } else if (device == nullptr || cbSize != sizeof(DevInfoData)) {
        result = Fail(ErrorInvalidUserBuffer);
    } else if (memberIndex >= members->size()) {
        result = Fail(ErrorNoMoreItems);
    } else {
        device->ClassGuid = UsbDeviceClass;
        device->DevInst = memberIndex + 1;
        device->Reserved = static_cast<std::uintptr_t>((*members)[memberIndex]) + 1;
    }
    Record(s, Call::SetupDiEnumDeviceInfo, {Key(set), memberIndex, cbSize}, result);
    return result;
}

Bool SetupDiGetDeviceRegistryPropertyW(Handle set, DevInfoData* device, std::uint32_t property, std::uint32_t* dataType,
                                       std::uint8_t* buffer, std::uint32_t bufferSize, std::uint32_t* requiredSize) {
    State& s = Sim();
    std::lock_guard lock(s.mutex);
    auto fault = TakeFault(s, Call::SetupDiGetDeviceRegistryProperty);
    auto members = FindSet(s, set);
    Bool result = 1;
    int index = -1;
    if (members != nullptr && device != nullptr && device->cbSize == sizeof(DevInfoData))
        index = RecordDevice(*members, device->Reserved);
    if (fault && fault->kind == Fault::Kind::ReportSize) {
        if (requiredSize != nullptr) *requiredSize = fault->size;
        result = Fail(ErrorInsufficientBuffer);
    } else if (fault) {
        result = Fail(fault->error, fault->result);
    } else if (members == nullptr) {
        result = Fail(ErrorInvalidHandle);
    } else if (device == nullptr || device->cbSize != sizeof(DevInfoData)) {
        result = Fail(ErrorInvalidUserBuffer);
    } else if (index < 0) {
        result = Fail(ErrorInvalidParameter);
    } else if (property != SpdrpHardwareId) {
        result = Fail(ErrorInvalidData);
    } else if (buffer == nullptr && bufferSize != 0) {
        result = Fail(ErrorInvalidUserBuffer);
    } else {
        auto bytes = HardwareIdBytes(s.devices[index].config);
        auto needed = static_cast<std::uint32_t>(bytes.size());
        if (requiredSize != nullptr) *requiredSize = needed;
        if (bufferSize < needed) {
            result = Fail(ErrorInsufficientBuffer);
        } else {
            std::copy(bytes.begin(), bytes.end(), buffer);
            if (dataType != nullptr) *dataType = RegMultiSz;
        }
    }
    Record(s, Call::SetupDiGetDeviceRegistryProperty,
           {Key(set), Value(device), property, Value(dataType), Value(buffer), bufferSize, Value(requiredSize)},
           result);
    return result;
}

Bool SetupDiGetDeviceInterfaceDetailW(Handle set, DeviceInterfaceData* interfaceData, void* detail,
                                      std::uint32_t detailSize, std::uint32_t* requiredSize, DevInfoData* device) {
    State& s = Sim();
    std::lock_guard lock(s.mutex);
    auto fault = TakeFault(s, Call::SetupDiGetDeviceInterfaceDetail);
    auto members = FindSet(s, set);
    std::uint32_t cbSize = 0;
    if (detail != nullptr && detailSize >= sizeof cbSize) std::memcpy(&cbSize, detail, sizeof cbSize);
    Bool result = 1;
    int index = -1;
    if (members != nullptr && interfaceData != nullptr && interfaceData->cbSize == sizeof(DeviceInterfaceData))
        index = RecordDevice(*members, interfaceData->Reserved);
    if (fault && fault->kind == Fault::Kind::ReportSize) {
        if (requiredSize != nullptr) *requiredSize = fault->size;
        result = Fail(ErrorInsufficientBuffer);
    } else if (fault) {
        result = Fail(fault->error, fault->result);
    } else if (members == nullptr) {
        result = Fail(ErrorInvalidHandle);
    } else if (interfaceData == nullptr || interfaceData->cbSize != sizeof(DeviceInterfaceData)) {
        result = Fail(ErrorInvalidUserBuffer);
    } else if (index < 0) {
        result = Fail(ErrorInvalidParameter);
    } else if ((detail == nullptr) != (detailSize == 0)) {
        result = Fail(ErrorInvalidUserBuffer);
    } else if (detail != nullptr && (detailSize < DetailFixedSize || cbSize != DetailFixedSize)) {
        result = Fail(ErrorInvalidUserBuffer);
    } else {
        auto path = PathBytes(s.devices[index].config);
        auto needed = static_cast<std::uint32_t>(DetailPathOffset + path.size());
        if (requiredSize != nullptr) *requiredSize = needed;
        if (detailSize < needed) {
            result = Fail(ErrorInsufficientBuffer);
        } else {
            std::copy(path.begin(), path.end(), static_cast<std::uint8_t*>(detail) + DetailPathOffset);
            if (device != nullptr) *device = DevInfoData{sizeof(DevInfoData), UsbDeviceClass, 0, 0};
        }
    }
    Record(s, Call::SetupDiGetDeviceInterfaceDetail,
           {Key(set), Value(interfaceData), Value(detail), detailSize, Value(requiredSize), Value(device), cbSize},
           result);
    return result;
}

Bool SetupDiDestroyDeviceInfoList(Handle set) {
    State& s = Sim();
    std::lock_guard lock(s.mutex);
    auto fault = TakeFault(s, Call::SetupDiDestroyDeviceInfoList);
    Bool result = 1;
    if (fault) {
        result = Fail(fault->error, fault->result);
    } else if (s.sets.erase(Key(set)) == 0) {
        result = Fail(ErrorInvalidHandle);
    }
    Record(s, Call::SetupDiDestroyDeviceInfoList, {Key(set)}, result);
    return result;
}

void* HeapAlloc(std::size_t bytes) {
    State& s = Sim();
    std::lock_guard lock(s.mutex);
    void* block = nullptr;
    if (auto fault = TakeFault(s, Call::HeapAlloc)) {
        lastError = fault->error;
    } else if ((block = std::malloc(bytes == 0 ? 1 : bytes)) != nullptr) {
        std::memset(block, 0xCD, bytes);  // a fresh heap block holds no meaningful bytes
        s.heap.insert(block);
    }
    Record(s, Call::HeapAlloc, {bytes}, Value(block));
    return block;
}

Bool HeapFree(void* block) {
    State& s = Sim();
    std::lock_guard lock(s.mutex);
    auto fault = TakeFault(s, Call::HeapFree);
    Bool result = 1;
    if (fault) {
        result = Fail(fault->error, fault->result);
    } else if (s.heap.erase(block) == 0) {
        result = Fail(ErrorInvalidParameter);
    } else {
        std::free(block);
    }
    Record(s, Call::HeapFree, {Value(block)}, result);
    return result;
}

Handle CreateFileW(const char16_t* fileName, std::uint32_t desiredAccess, std::uint32_t shareMode,
                   void* securityAttributes, std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes,
                   Handle templateFile) {
    State& s = Sim();
    std::lock_guard lock(s.mutex);
    std::u16string path = fileName != nullptr ? std::u16string(fileName) : std::u16string();
    Handle handle = InvalidHandle;
    auto device = std::find_if(s.devices.begin(), s.devices.end(),
                               [&](const SimDevice& d) { return d.config.present && d.config.path == path; });
    auto fault =
        TakeFault(s, Call::CreateFile, device == s.devices.end() ? -1 : static_cast<int>(device - s.devices.begin()));
    if (fault && fault->kind != Fault::Kind::UsableHandle) {
        lastError = fault->error;
    } else if (fileName == nullptr || creationDisposition != OpenExisting || templateFile != nullptr) {
        lastError = ErrorInvalidParameter;
    } else if (device == s.devices.end()) {
        lastError = ErrorFileNotFound;
    } else if ((desiredAccess & ~(GenericRead | GenericWrite)) != 0 ||
               (device->config.exclusive && device->opens > 0)) {
        lastError = ErrorAccessDenied;
    } else {
        handle = MakeHandle(FileBase, s);
        s.files[Key(handle)] = static_cast<int>(device - s.devices.begin());
        ++device->opens;
        lastError = fault ? fault->error : ErrorSuccess;
    }
    CallRecord record{Call::CreateFile,
                      std::this_thread::get_id(),
                      {desiredAccess, shareMode, Value(securityAttributes), creationDisposition, flagsAndAttributes,
                       Key(templateFile)}};
    record.text = path;
    record.result = Key(handle);
    Keep(s, std::move(record));
    return handle;
}

Bool CloseHandle(Handle object) {
    State& s = Sim();
    std::lock_guard lock(s.mutex);
    auto file = s.files.find(Key(object));
    auto fault = TakeFault(s, Call::CloseHandle, file == s.files.end() ? -1 : file->second);
    Record(s, Call::CloseHandle, {Key(object)}, 0);
    RaiseIfDue(fault);
    Bool result = 1;
    if (fault) {
        result = Fail(fault->error, fault->result);
    } else if (object == InvalidHandle) {
        // The pseudo-handle of the current process: closing it does nothing.
    } else if (file == s.files.end()) {
        result = Fail(ErrorInvalidHandle);
    } else {
        --s.devices[file->second].opens;
        s.files.erase(file);
    }
    Result(s, result);
    return result;
}

std::uint32_t GetLastError() {
    State& s = Sim();
    std::lock_guard lock(s.mutex);
    Record(s, Call::GetLastError, {}, lastError);
    return lastError;
}

Bool WinUsb_Initialize(Handle device, Handle* interfaceHandle) {
    State& s = Sim();
    std::lock_guard lock(s.mutex);
    auto file = s.files.find(Key(device));
    auto fault = TakeFault(s, Call::WinUsbInitialize, file == s.files.end() ? -1 : file->second);
    Bool result = 1;
    Handle delivered = nullptr;
    if (fault) {
        result = Fail(fault->error, fault->result);
        // A handle no other call accepts, in case a failure is taken for success.
        if (interfaceHandle != nullptr) *interfaceHandle = reinterpret_cast<Handle>(BogusInterface);
    } else if (file == s.files.end() || interfaceHandle == nullptr) {
        result = Fail(ErrorInvalidHandle);
    } else if (!s.devices[file->second].config.present) {
        result = Fail(ErrorGenFailure);
    } else {
        delivered = MakeHandle(InterfaceBase, s);
        s.interfaces[Key(delivered)] = Interface{file->second};
        *interfaceHandle = delivered;
    }
    Record(s, Call::WinUsbInitialize, {Key(device), Key(delivered)}, result);
    return result;
}

Bool WinUsb_SetPipePolicy(Handle interfaceHandle, std::uint8_t pipeId, std::uint32_t policyType,
                          std::uint32_t valueLength, void* value) {
    State& s = Sim();
    std::lock_guard lock(s.mutex);
    Interface* found = FindInterface(s, interfaceHandle);
    auto fault = TakeFault(s, Call::WinUsbSetPipePolicy, found != nullptr ? found->device : -1);
    std::uint32_t milliseconds = 0;
    if (value != nullptr && valueLength == sizeof milliseconds) std::memcpy(&milliseconds, value, sizeof milliseconds);
    Bool result = 1;
    if (fault) {
        result = Fail(fault->error, fault->result);
    } else if (found == nullptr) {
        result = Fail(ErrorInvalidHandle);
    } else if ((pipeId != OutPipe && pipeId != InPipe) || policyType != PipeTransferTimeout ||
               valueLength != sizeof milliseconds || value == nullptr) {
        result = Fail(ErrorInvalidParameter);
    } else {
        found->timeoutMs[pipeId] = milliseconds;
    }
    Record(s, Call::WinUsbSetPipePolicy, {Key(interfaceHandle), pipeId, policyType, valueLength, milliseconds}, result);
    return result;
}

Bool WinUsb_WritePipe(Handle interfaceHandle, std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t bufferLength,
                      std::uint32_t* lengthTransferred, void* overlapped) {
    State& s = Sim();
    std::this_thread::sleep_for(LatencyOf(s, interfaceHandle));
    std::lock_guard lock(s.mutex);
    std::uint32_t before = lengthTransferred != nullptr ? *lengthTransferred : 0;
    CallRecord record{
        Call::WinUsbWritePipe,
        std::this_thread::get_id(),
        {Key(interfaceHandle), pipeId, bufferLength, Value(lengthTransferred), before, Value(overlapped)}};
    Interface* found = FindInterface(s, interfaceHandle);
    auto fault = TakeFault(s, Call::WinUsbWritePipe, found != nullptr ? found->device : -1,
                           buffer != nullptr && bufferLength > 0 ? buffer[0] : -1);
    if (fault && fault->kind == Fault::Kind::AccessViolation) {
        Keep(s, std::move(record));
        throw AccessViolation{};
    }
    if (s.requestOutstanding) ++s.interleaveViolations;
    s.requestOutstanding = true;
    Packet request{};
    if (buffer != nullptr) std::copy_n(buffer, std::min<std::uint32_t>(bufferLength, 64), request.begin());
    record.packet = request;
    Bool result = 1;
    bool deliver = !fault || fault->takesEffect;
    if (found == nullptr) {
        result = Fail(ErrorInvalidHandle);
    } else if (pipeId != OutPipe || buffer == nullptr || overlapped != nullptr) {
        result = Fail(ErrorInvalidParameter);
    } else if (!s.devices[found->device].config.present) {
        result = Fail(ErrorGenFailure);
    } else {
        if (deliver) {
            found->replies.push_back(Answer(s.devices[found->device], request));
            if (lengthTransferred != nullptr) *lengthTransferred = bufferLength;
            record.length = bufferLength;
        }
        if (fault) result = Fail(fault->error, fault->result);
    }
    record.result = result;
    Keep(s, std::move(record));
    return result;
}

Bool WinUsb_ReadPipe(Handle interfaceHandle, std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t bufferLength,
                     std::uint32_t* lengthTransferred, void* overlapped) {
    State& s = Sim();
    std::this_thread::sleep_for(LatencyOf(s, interfaceHandle));
    std::unique_lock lock(s.mutex);
    std::uint32_t before = lengthTransferred != nullptr ? *lengthTransferred : 0;
    CallRecord record{
        Call::WinUsbReadPipe,
        std::this_thread::get_id(),
        {Key(interfaceHandle), pipeId, bufferLength, Value(lengthTransferred), before, Value(overlapped)}};
    s.requestOutstanding = false;
    Interface* found = FindInterface(s, interfaceHandle);
    auto fault = TakeFault(s, Call::WinUsbReadPipe, found != nullptr ? found->device : -1,
                           found != nullptr && !found->replies.empty() ? found->replies.front().command : -1);
    if (fault && fault->kind == Fault::Kind::AccessViolation) {
        Keep(s, std::move(record));
        throw AccessViolation{};
    }
    Bool result = 1;
    if (fault && fault->kind == Fault::Kind::Deliver && buffer != nullptr) {
        auto length = static_cast<std::uint32_t>(std::min<std::size_t>({fault->bytes.size(), bufferLength, 64}));
        std::copy_n(fault->bytes.begin(), length, buffer);
        std::copy_n(fault->bytes.begin(), length, record.packet.begin());
        if (lengthTransferred != nullptr) *lengthTransferred = length;
        record.length = length;
    } else if (found == nullptr) {
        result = Fail(ErrorInvalidHandle);
    } else if (pipeId != InPipe || buffer == nullptr || overlapped != nullptr) {
        result = Fail(ErrorInvalidParameter);
    } else if (!s.devices[found->device].config.present) {
        result = Fail(ErrorGenFailure);
    } else {
        Pending pending{Reply::Kind::Silent, {}, 0};
        if (!found->replies.empty()) {
            pending = found->replies.front();
            found->replies.pop_front();
        }
        if (fault && fault->kind == Fault::Kind::Fail && !fault->takesEffect) pending.kind = Reply::Kind::Stall;
        if (pending.kind == Reply::Kind::Silent) {
            auto timeout = found->timeoutMs.find(InPipe);
            std::uint64_t generation = s.releaseGeneration;
            auto released = [&] { return s.releaseGeneration != generation; };
            if (timeout == found->timeoutMs.end() || timeout->second == 0) {
                s.wake.wait(lock, released);
            } else {
                auto wait = std::chrono::duration<double, std::milli>(timeout->second * s.timeoutScale);
                s.wake.wait_for(lock, wait, released);
            }
            result = Fail(ErrorSemTimeout);
        } else if (pending.kind == Reply::Kind::Stall) {
            result = Fail(ErrorGenFailure);
        } else {
            std::uint32_t length = std::min(pending.length, bufferLength);
            std::copy_n(pending.packet.begin(), length, buffer);
            std::copy_n(pending.packet.begin(), length, record.packet.begin());
            if (lengthTransferred != nullptr) *lengthTransferred = length;
            record.length = length;
        }
        if (fault && fault->kind == Fault::Kind::Fail) result = Fail(fault->error, fault->result);
    }
    record.result = result;
    Keep(s, std::move(record));
    return result;
}

Bool WinUsb_Free(Handle interfaceHandle) {
    State& s = Sim();
    std::lock_guard lock(s.mutex);
    Interface* found = FindInterface(s, interfaceHandle);
    auto fault = TakeFault(s, Call::WinUsbFree, found != nullptr ? found->device : -1);
    Record(s, Call::WinUsbFree, {Key(interfaceHandle)}, 0);
    RaiseIfDue(fault);
    Bool result = 1;
    if (fault) {
        result = Fail(fault->error, fault->result);
    } else if (s.interfaces.erase(Key(interfaceHandle)) == 0) {
        result = Fail(ErrorInvalidHandle);
    }
    Result(s, result);
    return result;
}

bool GuardAccessViolation(void (*body)(void* context), void* context) {
    try {
        body(context);
        return true;
    } catch (const AccessViolation&) {
        std::lock_guard lock(Sim().mutex);
        ++Sim().caughtFaults;
        return false;
    }
}

}  // namespace ZorekPlatform
