// Control interface of the stand-in winusb.dll. The stand-in plays WinUSB for
// devices whose file handles are client ends of named pipes: a test attaches
// a pipe name together with the instrument that answers behind it, and reads
// back what the library did. Test programs find these functions in the loaded
// winusb.dll with GetProcAddress (StandInControl in standin_control.h).
#pragma once

#include <array>
#include <cstdint>

#include "instrument/instrument.h"

namespace StandIn {

using Packet = ZorekInstrument::Packet;

struct Setup {
    ZorekInstrument::State state{};
    bool failInitialize = false;     // WinUsb_Initialize returns FALSE
    std::uint8_t unanswered = 0;     // no reply to this command: the read waits for the pipe's time-out
    std::uint8_t stalled = 0;        // the read after this command fails at once
    int writeFaultsAfter = 0;        // writes that go through before the writeFaults
    int writeFaults = 0;             // the next n writes raise an access violation
    int readFaults = 0;              // the next n reads raise an access violation
    int freeFaults = 0;              // the next n frees raise an access violation
    int ownWriteFaults = 0;          // the next n writes fault inside a handler of the stand-in's own, then go on
    int foreignWriteExceptions = 0;  // the next n writes raise a continuable exception of another code
    std::uint32_t latencyMs = 0;     // each transfer takes this long
};

// One WinUsb_SetPipePolicy call.
struct Policy {
    std::uint8_t pipe;
    std::uint32_t type;
    std::uint32_t length;
    std::uint32_t value;  // the first four bytes of the value
};

inline constexpr int MaxRequests = 64;
inline constexpr int MaxPolicies = 16;

struct Record {
    int initializes = 0;     // WinUsb_Initialize calls on this device's handles
    int liveInterfaces = 0;  // interface handles not freed
    int frees = 0;
    int writes = 0;
    int reads = 0;
    int caughtOwnFaults = 0;     // faults the stand-in's own handler took
    bool waitedTooLong = false;  // a read with no reply found no time-out to end it
    int requestCount = 0;        // requests written, the first MaxRequests kept
    std::array<Packet, MaxRequests> requests{};
    int policyCount = 0;  // policies set, the first MaxPolicies kept
    std::array<Policy, MaxPolicies> policies{};
};

// Process-wide counts.
struct Totals {
    int initializes = 0;         // WinUsb_Initialize calls, whatever the handle
    int invalidHandleCalls = 0;  // calls with a handle that is no live interface (or no attached pipe)
    int interleavings = 0;       // requests written while another exchange's reply was still unread
};

// The exported control functions (C calling convention).
using ResetFunction = void (*)();
using AttachFunction = int (*)(const wchar_t* pipeName, const Setup* setup);  // returns the device's slot
using ConfigureFunction = bool (*)(int slot, const Setup* setup);             // replaces the setup, keeps the record
using ReadFunction = bool (*)(int slot, Record* record, ZorekInstrument::State* state);
using TotalsFunction = void (*)(Totals* totals);
using FaultSiteFunction = const void* (*)();  // the instruction at which the stand-in faults

inline constexpr const char* ResetName = "StandInReset";
inline constexpr const char* AttachName = "StandInAttach";
inline constexpr const char* ConfigureName = "StandInConfigure";
inline constexpr const char* ReadName = "StandInRead";
inline constexpr const char* TotalsName = "StandInTotals";
inline constexpr const char* FaultSiteName = "StandInFaultSite";

// Code of the continuable exception raised for foreignWriteExceptions.
inline constexpr std::uint32_t ForeignExceptionCode = 0xE05A0001;

}  // namespace StandIn
