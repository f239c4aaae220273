// Scripting side of the simulated platform: the devices it presents, the faults
// it injects and the record of every platform call the library made.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "instrument/instrument.h"
#include "platform/platform.h"

namespace ZorekSim {

using Packet = ZorekInstrument::Packet;

enum class Call {
    SetupDiGetClassDevs,
    SetupDiEnumDeviceInterfaces,
    SetupDiEnumDeviceInfo,
    SetupDiGetDeviceRegistryProperty,
    SetupDiGetDeviceInterfaceDetail,
    SetupDiDestroyDeviceInfoList,
    HeapAlloc,
    HeapFree,
    CreateFile,
    CloseHandle,
    GetLastError,
    WinUsbInitialize,
    WinUsbSetPipePolicy,
    WinUsbWritePipe,
    WinUsbReadPipe,
    WinUsbFree,
};
const char* Name(Call call);

// One platform call as the library made it. args are the call's arguments in
// order, as integers (handles and pointers by value):
//   SetupDiGetClassDevs             classGuidIsOurs, enumerator, parent, flags
//   SetupDiEnumDeviceInterfaces     set, device, classGuidIsOurs, index, cbSize
//   SetupDiEnumDeviceInfo           set, index, cbSize
//   SetupDiGetDeviceRegistryProperty set, device, property, dataType, buffer, bufferSize, requiredSize
//   SetupDiGetDeviceInterfaceDetail set, interfaceData, detail, detailSize, requiredSize, device, cbSize
//   SetupDiDestroyDeviceInfoList    set
//   HeapAlloc                       bytes
//   HeapFree                        block
//   CreateFile                      access, share, security, disposition, flags, template (path in text)
//   CloseHandle                     handle
//   GetLastError                    (none)
//   WinUsbInitialize                device, interface handle delivered (0 when none)
//   WinUsbSetPipePolicy             interface, pipe, policy, valueLength, value
//   WinUsbWritePipe / ReadPipe      interface, pipe, bufferLength, transferred, transferredBefore, overlapped
//   WinUsbFree                      interface
// result is the returned value (a handle or pointer by value); packet holds the
// bytes written or delivered by a pipe call.
struct CallRecord {
    Call call;
    std::thread::id thread;
    std::vector<std::uint64_t> args;
    std::u16string text{};
    Packet packet{};
    std::uint32_t length = 0;
    std::uint64_t result = 0;
};

// How the device answers one command instead of as the instrument would.
struct Reply {
    enum class Kind {
        Normal,  // the instrument's answer
        Silent,  // the read never completes (until the pipe time-out, if one is set)
        Empty,   // the read succeeds with 0 bytes
        Short,   // the first `length` bytes of the instrument's answer
        Echo,    // the request itself comes back
        Bytes,   // `bytes` come back (up to 64)
        Stall,   // the read fails at once
    };
    Kind kind = Kind::Normal;
    std::vector<std::uint8_t> bytes{};
    std::uint32_t length = 0;
};

struct Device {
    std::vector<std::u16string> hardwareIds = {u"USB\\VID_04D8&PID_00DF&REV_0100", u"USB\\VID_04D8&PID_00DF"};
    // Raw REG_MULTI_SZ bytes to report instead of hardwareIds (a list without
    // a terminating NUL, say).
    std::optional<std::vector<std::uint8_t>> hardwareIdBytes;
    // Device path; AddDevice makes one up when empty.
    std::u16string path;
    // Raw bytes of the detail record after cbSize instead of path + NUL.
    std::optional<std::vector<std::uint8_t>> pathBytes;
    ZorekInstrument::State state;
    std::map<std::uint8_t, Reply> replies;
    std::chrono::microseconds latency{0};  // per transfer, blocking the caller
    bool exclusive = false;                // a second open fails with ERROR_ACCESS_DENIED
    bool present = true;
    // Runs on the instrument state before each request to this device is
    // answered, under the platform's lock (to let readings move over time).
    std::function<void(ZorekInstrument::State&)> beforeAnswer{};
};

struct Fault {
    enum class Kind {
        Fail,             // returns `result` with last error `error`
        AccessViolation,  // raises the access-violation fault before the call has any effect
        ReportSize,       // a size query reports `size` bytes
        UsableHandle,     // CreateFile opens the device but leaves last error `error`
        Deliver,          // ReadPipe delivers `bytes` and succeeds, whatever the handle
    };
    Call call;
    Kind kind = Kind::Fail;
    // The n-th such call from now on; 0: every such call. Where two faults fall
    // due on one call, the one injected first applies.
    int occurrence = 1;
    std::int32_t result = 0;
    std::uint32_t error = ZorekPlatform::ErrorGenFailure;
    std::uint32_t size = 0;
    std::vector<std::uint8_t> bytes{};
    bool takesEffect = false;  // Fail on a pipe call: the transfer happens all the same
    // Only calls from this thread count and fail; any thread's when empty.
    std::optional<std::thread::id> thread{};
    // Only calls on this device's handles (CreateFile of its path, CloseHandle,
    // WinUsb_*) match and count; -1: every such call.
    int device = -1;
    // Pipe calls only: just the transfer of the request with this command byte
    // (the write of the request, the read of its reply) matches and counts.
    std::optional<std::uint8_t> command{};
};

struct OpenResources {
    std::size_t sets = 0;
    std::size_t files = 0;
    std::size_t interfaces = 0;
    std::size_t heapBlocks = 0;
    bool operator==(const OpenResources&) const = default;
};

// Forgets every device, fault and record; releases blocked reads.
void Reset();
int AddDevice(Device device = {});
void SetPresent(int device, bool present);
void SetReply(int device, std::uint8_t command, Reply reply);
void SetLatency(int device, std::chrono::microseconds latency);
ZorekInstrument::State GetState(int device);
void SetState(int device, const ZorekInstrument::State& state);
std::u16string DevicePath(int device);

void InjectFault(const Fault& fault);
// Drops the faults still waiting: all, or those of one thread.
void ClearFaults(std::optional<std::thread::id> thread = {});
// Pipe time-outs are honoured scaled by this factor (to keep tests short).
void SetTimeoutScale(double scale);
// Completes every read that waits for ever, failing it.
void ReleaseBlockedReads();

// Whether platform calls are recorded (they are after Reset).
void SetRecording(bool on);
std::vector<CallRecord> Calls();
std::vector<Call> CallSequence();
void ClearCalls();
OpenResources Open();
// Requests written while another exchange's reply was still unread.
std::size_t InterleaveViolations();
// Access-violation faults raised and caught by the guard.
std::size_t CaughtFaults();

// The fault the simulated platform raises for an access violation.
struct AccessViolation {};

}  // namespace ZorekSim
