#include "fault_oracle.h"

using namespace ZorekSim;
namespace P = ZorekPlatform;

namespace {

constexpr Expected Success = {1, 0, true, {}};

Expected FailedWith(std::int32_t status) { return {0, status, false, {}}; }

// A failed request exchange number n (1: information, 2: parameters, 3: operation).
Expected FailedExchange(int n) { return n == 1 ? FailedWith(5) : n == 2 ? FailedWith(6) : FailedWith(0); }

Expected Leaving(OpenResources left) { return {1, 0, true, left}; }

Fault Failing(Call call, int occurrence, std::uint32_t error = P::ErrorGenFailure) {
    return Fault{call, Fault::Kind::Fail, occurrence, 0, error};
}

Fault WithKind(Call call, int occurrence, Fault::Kind kind, std::uint32_t size = 0) {
    Fault fault{call, kind, occurrence};
    fault.size = size;
    return fault;
}

}  // namespace

std::vector<Call> RecordSuccessfulCall(const DeviceFunction& f) {
    Reset();
    AddDevice();
    Invoke(f);
    auto sequence = CallSequence();
    Reset();
    return sequence;
}

std::vector<std::int32_t> SuccessOutputs(const DeviceFunction& f, const ZorekInstrument::State& state) {
    Reset();
    Device device;
    device.state = state;
    AddDevice(device);
    auto outputs = Invoke(f).outputs;
    Reset();
    return outputs;
}

std::vector<Injection> Injections(const std::vector<Call>& sequence) {
    std::vector<Injection> injections;
    std::map<Call, int> seen;
    for (Call call : sequence) {
        const int n = ++seen[call];
        const std::string at = std::string(Name(call)) + " #" + std::to_string(n);
        auto add = [&](const std::string& how, Fault fault, Expected expected) {
            injections.push_back({at + " " + how, fault, expected});
        };
        switch (call) {
            case Call::SetupDiGetClassDevs:
                add("fails", Failing(call, n, P::ErrorInvalidParameter), FailedWith(2));
                break;
            case Call::SetupDiEnumDeviceInterfaces:
                add("has no more items", Failing(call, n, P::ErrorNoMoreItems), FailedWith(1));
                add("fails", Failing(call, n, P::ErrorInvalidParameter), FailedWith(2));
                break;
            case Call::SetupDiEnumDeviceInfo: add("fails", Failing(call, n, P::ErrorNoMoreItems), FailedWith(8)); break;
            case Call::SetupDiGetDeviceRegistryProperty:
                add("fails", Failing(call, n, P::ErrorInvalidData), FailedWith(8));
                if (n == 1) add("reports 1 byte", WithKind(call, n, Fault::Kind::ReportSize, 1), FailedWith(8));
                break;
            case Call::HeapAlloc:
                add("returns null", Failing(call, n, P::ErrorNotEnoughMemory), FailedWith(n == 1 ? 3 : 4));
                break;
            case Call::HeapFree: add("fails", Failing(call, n, P::ErrorInvalidParameter), Leaving({0, 0, 0, 1})); break;
            case Call::SetupDiGetDeviceInterfaceDetail:
                add("fails", Failing(call, n, P::ErrorInvalidParameter), FailedWith(4));
                if (n == 1) add("reports 2 bytes", WithKind(call, n, Fault::Kind::ReportSize, 2), FailedWith(4));
                break;
            case Call::CreateFile:
                add("fails", Failing(call, n, P::ErrorFileNotFound), FailedWith(8));
                add("opens with an error", Failing(call, n, P::ErrorAccessDenied), FailedWith(8));
                injections.back().fault.kind = Fault::Kind::UsableHandle;
                break;
            case Call::GetLastError: break;  // reads a value; it cannot fail
            case Call::WinUsbInitialize: add("fails", Failing(call, n, P::ErrorGenFailure), FailedWith(0)); break;
            case Call::WinUsbSetPipePolicy: add("fails", Failing(call, n, P::ErrorInvalidParameter), Success); break;
            case Call::WinUsbWritePipe:
                add("fails", Failing(call, n, P::ErrorGenFailure), FailedExchange(n));
                add("fails after sending", Failing(call, n, P::ErrorGenFailure), Success);
                injections.back().fault.takesEffect = true;
                add("faults", WithKind(call, n, Fault::Kind::AccessViolation), FailedExchange(n));
                break;
            case Call::WinUsbReadPipe:
                add("fails", Failing(call, n, P::ErrorSemTimeout), FailedExchange(n));
                add("faults", WithKind(call, n, Fault::Kind::AccessViolation), FailedExchange(n));
                break;
            case Call::CloseHandle:
                add("fails", Failing(call, n, P::ErrorInvalidHandle), Leaving({0, 1, 1, 0}));
                add("faults", WithKind(call, n, Fault::Kind::AccessViolation), Leaving({0, 1, 1, 0}));
                break;
            case Call::WinUsbFree:
                add("fails", Failing(call, n, P::ErrorInvalidHandle), Leaving({0, 0, 1, 0}));
                add("faults", WithKind(call, n, Fault::Kind::AccessViolation), Leaving({0, 0, 1, 0}));
                break;
            case Call::SetupDiDestroyDeviceInfoList:
                add("fails", Failing(call, n, P::ErrorInvalidHandle), Leaving({1, 0, 0, 0}));
                break;
        }
    }
    return injections;
}
