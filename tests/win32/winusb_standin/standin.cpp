// A stand-in for winusb.dll under Wine, whose own WinUSB transfers are
// unimplemented. It serves device handles that are client ends of named pipes:
// the pipe's name selects the attached device, whose instrument answers the
// requests (the firmware model of instrument/). Faults and failures are
// scripted per device through the control functions of standin.h.
#include "standin.h"

#include <windows.h>
#include <winusb.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

// The longest a read without a reply waits when no pipe time-out is set.
constexpr DWORD LongestWaitMs = 20000;

struct Pending {
    bool stall;
    StandIn::Packet reply;
};

struct Device {
    std::wstring pipeName;
    StandIn::Setup setup;
    StandIn::Record record;
};

struct Interface {
    std::size_t device;
    DWORD inTimeoutMs = 0;
    std::deque<Pending> replies;
};

struct State {
    std::mutex lock;
    std::vector<Device> devices;
    std::set<Interface*> interfaces;
    StandIn::Totals totals;
    bool outstanding = false;  // a request was written and its reply not yet read
};

State& Standin() {
    static State state;
    return state;
}

using Guard = std::lock_guard<std::mutex>;

Interface* Find(State& s, WINUSB_INTERFACE_HANDLE handle) {
    auto it = s.interfaces.find(static_cast<Interface*>(handle));
    return it == s.interfaces.end() ? nullptr : *it;
}

// The name of the pipe behind a client handle, as "\name".
std::wstring PipeName(HANDLE file) {
    alignas(FILE_NAME_INFO) BYTE buffer[sizeof(FILE_NAME_INFO) + MAX_PATH * sizeof(WCHAR)];
    if (!GetFileInformationByHandleEx(file, FileNameInfo, buffer, sizeof buffer)) return {};
    auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer);
    return std::wstring(info->FileName, info->FileNameLength / sizeof(WCHAR));
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// Takes one scripted event from a counter.
bool Take(int& counter) {
    if (counter <= 0) return false;
    --counter;
    return true;
}

// A write to address 0x10, made at one known instruction (see
// StandInFaultSite).
extern "C" void ZorekStandInFault();
asm(R"(
    .text
    .globl _ZorekStandInFault
    .def _ZorekStandInFault; .scl 2; .type 32; .endef
_ZorekStandInFault:
    movl $0x10, %eax
    .globl _ZorekStandInFaultSite
_ZorekStandInFaultSite:
    movl $1, (%eax)
    ret
)");
extern "C" char ZorekStandInFaultSite[];

void AccessViolation() { ZorekStandInFault(); }

}  // namespace

extern "C" {

BOOL WINAPI WinUsb_Initialize(HANDLE DeviceHandle, PWINUSB_INTERFACE_HANDLE InterfaceHandle) {
    State& s = Standin();
    std::wstring name = DeviceHandle == INVALID_HANDLE_VALUE ? std::wstring() : PipeName(DeviceHandle);
    Guard guard(s.lock);
    ++s.totals.initializes;
    auto device = std::find_if(s.devices.begin(), s.devices.end(),
                               [&](const Device& d) { return !name.empty() && d.pipeName == name; });
    if (device == s.devices.end() || InterfaceHandle == nullptr) {
        ++s.totals.invalidHandleCalls;
        return Fail(ERROR_INVALID_HANDLE);
    }
    ++device->record.initializes;
    if (device->setup.failInitialize) return Fail(ERROR_GEN_FAILURE);
    auto created = std::make_unique<Interface>();
    created->device = static_cast<std::size_t>(device - s.devices.begin());
    *InterfaceHandle = created.get();
    s.interfaces.insert(created.release());
    ++device->record.liveInterfaces;
    return TRUE;
}

BOOL WINAPI WinUsb_Free(WINUSB_INTERFACE_HANDLE InterfaceHandle) {
    State& s = Standin();
    bool fault = false;
    {
        Guard guard(s.lock);
        Interface* found = Find(s, InterfaceHandle);
        if (found == nullptr) {
            ++s.totals.invalidHandleCalls;
            return Fail(ERROR_INVALID_HANDLE);
        }
        Device& device = s.devices[found->device];
        fault = Take(device.setup.freeFaults);
        if (!fault) {
            ++device.record.frees;
            --device.record.liveInterfaces;
            s.interfaces.erase(found);
            delete found;
        }
    }
    if (fault) AccessViolation();
    return TRUE;
}

BOOL WINAPI WinUsb_SetPipePolicy(WINUSB_INTERFACE_HANDLE InterfaceHandle, UCHAR PipeID, ULONG PolicyType,
                                 ULONG ValueLength, PVOID Value) {
    State& s = Standin();
    Guard guard(s.lock);
    Interface* found = Find(s, InterfaceHandle);
    if (found == nullptr) {
        ++s.totals.invalidHandleCalls;
        return Fail(ERROR_INVALID_HANDLE);
    }
    StandIn::Policy policy{PipeID, PolicyType, ValueLength, 0};
    if (Value != nullptr) std::memcpy(&policy.value, Value, std::min<ULONG>(ValueLength, sizeof policy.value));
    StandIn::Record& record = s.devices[found->device].record;
    if (record.policyCount < StandIn::MaxPolicies) record.policies[record.policyCount] = policy;
    ++record.policyCount;
    if (Value == nullptr || (PipeID != 0x01 && PipeID != 0x81)) return Fail(ERROR_INVALID_PARAMETER);
    if (PolicyType == PIPE_TRANSFER_TIMEOUT && PipeID == 0x81) found->inTimeoutMs = policy.value;
    return TRUE;
}

BOOL WINAPI WinUsb_WritePipe(WINUSB_INTERFACE_HANDLE InterfaceHandle, UCHAR PipeID, PUCHAR Buffer, ULONG BufferLength,
                             PULONG LengthTransferred, LPOVERLAPPED Overlapped) {
    State& s = Standin();
    DWORD latency = 0;
    bool fault = false, ownFault = false, foreign = false;
    {
        Guard guard(s.lock);
        Interface* found = Find(s, InterfaceHandle);
        if (found == nullptr) {
            ++s.totals.invalidHandleCalls;
            return Fail(ERROR_INVALID_HANDLE);
        }
        Device& device = s.devices[found->device];
        ++device.record.writes;
        latency = device.setup.latencyMs;
        fault = !Take(device.setup.writeFaultsAfter) && Take(device.setup.writeFaults);
        ownFault = !fault && Take(device.setup.ownWriteFaults);
        foreign = !fault && !ownFault && Take(device.setup.foreignWriteExceptions);
    }
    if (latency != 0) Sleep(latency);
    if (fault) AccessViolation();
    if (ownFault && !ZorekPlatform::GuardAccessViolation([](void*) { AccessViolation(); }, nullptr)) {
        Guard guard(s.lock);
        if (Interface* found = Find(s, InterfaceHandle)) ++s.devices[found->device].record.caughtOwnFaults;
    }
    if (foreign) RaiseException(StandIn::ForeignExceptionCode, 0, 0, nullptr);

    Guard guard(s.lock);
    Interface* found = Find(s, InterfaceHandle);
    if (found == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (PipeID != 0x01 || Buffer == nullptr || Overlapped != nullptr || LengthTransferred == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (s.outstanding) ++s.totals.interleavings;
    s.outstanding = true;
    Device& device = s.devices[found->device];
    StandIn::Packet request{};
    std::copy_n(Buffer, std::min<ULONG>(BufferLength, request.size()), request.begin());
    StandIn::Record& record = device.record;
    if (record.requestCount < StandIn::MaxRequests) record.requests[record.requestCount] = request;
    ++record.requestCount;
    *LengthTransferred = std::min<ULONG>(BufferLength, request.size());
    if (request[0] == device.setup.unanswered && device.setup.unanswered != 0) return TRUE;
    auto answer = ZorekInstrument::Answer(device.setup.state, request);
    bool stall = !answer || (request[0] == device.setup.stalled && device.setup.stalled != 0);
    found->replies.push_back(Pending{stall, answer.value_or(StandIn::Packet{})});
    return TRUE;
}

BOOL WINAPI WinUsb_ReadPipe(WINUSB_INTERFACE_HANDLE InterfaceHandle, UCHAR PipeID, PUCHAR Buffer, ULONG BufferLength,
                            PULONG LengthTransferred, LPOVERLAPPED Overlapped) {
    State& s = Standin();
    DWORD latency = 0, timeout = 0;
    bool fault = false, waiting = false;
    Pending pending{};
    {
        Guard guard(s.lock);
        Interface* found = Find(s, InterfaceHandle);
        if (found == nullptr) {
            ++s.totals.invalidHandleCalls;
            return Fail(ERROR_INVALID_HANDLE);
        }
        Device& device = s.devices[found->device];
        ++device.record.reads;
        s.outstanding = false;
        latency = device.setup.latencyMs;
        fault = Take(device.setup.readFaults);
        if (PipeID != 0x81 || Buffer == nullptr || Overlapped != nullptr || LengthTransferred == nullptr)
            return Fail(ERROR_INVALID_PARAMETER);
        waiting = found->replies.empty();
        if (!waiting) {
            pending = found->replies.front();
            found->replies.pop_front();
        }
        timeout = found->inTimeoutMs;
    }
    if (latency != 0) Sleep(latency);
    if (fault) AccessViolation();
    *LengthTransferred = 0;
    if (waiting) {
        // Nothing comes: the transfer ends with the pipe's time-out.
        Sleep(timeout != 0 ? timeout : LongestWaitMs);
        if (timeout == 0) {
            Guard guard(s.lock);
            if (Interface* found = Find(s, InterfaceHandle)) s.devices[found->device].record.waitedTooLong = true;
        }
        return Fail(ERROR_SEM_TIMEOUT);
    }
    if (pending.stall) return Fail(ERROR_GEN_FAILURE);
    ULONG length = std::min<ULONG>(BufferLength, pending.reply.size());
    std::copy_n(pending.reply.begin(), length, Buffer);
    *LengthTransferred = length;
    return TRUE;
}

void StandInReset() {
    State& s = Standin();
    Guard guard(s.lock);
    for (Interface* i : s.interfaces) delete i;
    s.interfaces.clear();
    s.devices.clear();
    s.totals = {};
    s.outstanding = false;
}

int StandInAttach(const wchar_t* pipeName, const StandIn::Setup* setup) {
    State& s = Standin();
    Guard guard(s.lock);
    s.devices.push_back(Device{pipeName, *setup, {}});
    return static_cast<int>(s.devices.size() - 1);
}

bool StandInConfigure(int slot, const StandIn::Setup* setup) {
    State& s = Standin();
    Guard guard(s.lock);
    if (slot < 0 || static_cast<std::size_t>(slot) >= s.devices.size()) return false;
    s.devices[slot].setup = *setup;
    return true;
}

bool StandInRead(int slot, StandIn::Record* record, ZorekInstrument::State* state) {
    State& s = Standin();
    Guard guard(s.lock);
    if (slot < 0 || static_cast<std::size_t>(slot) >= s.devices.size()) return false;
    *record = s.devices[slot].record;
    *state = s.devices[slot].setup.state;
    return true;
}

const void* StandInFaultSite() { return ZorekStandInFaultSite; }

void StandInTotals(StandIn::Totals* totals) {
    State& s = Standin();
    Guard guard(s.lock);
    *totals = s.totals;
}

}  // extern "C"
