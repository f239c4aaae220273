// Every exported function end to end: zorek.dll over Wine's SetupAPI and
// kernel32, with the stand-in winusb.dll and the instrument model behind a
// registered device.
#include <windows.h>
// After windows.h:
#include <winusb.h>

#include <algorithm>
#include <climits>
#include <thread>
#include <vector>

#include "wine_fixture.h"

namespace {

// Under qemu-user, Wine reports every memory fault as an illegal instruction,
// for the emulator leaves the trap number out of the signal context. The
// stand-in faults at one known instruction, a write to address 0x10: this
// first-chance handler gives that fault back the code and details that
// Windows reports for it, and leaves every other exception alone.
const void* standInFaultSite = nullptr;

LONG WINAPI RepairFaultCode(EXCEPTION_POINTERS* pointers) {
    EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    if (record.ExceptionCode == EXCEPTION_ILLEGAL_INSTRUCTION && record.ExceptionAddress == standInFaultSite) {
        record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
        record.NumberParameters = 2;
        record.ExceptionInformation[0] = 1;  // a write
        record.ExceptionInformation[1] = 0x10;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

class EndToEndTest : public WineDeviceTest {
protected:
    void SetUp() override {
        WineDeviceTest::SetUp();
        if (HasFatalFailure()) return;
        standInFaultSite = standIn.FaultSite();
        repair_ = AddVectoredExceptionHandler(1, &RepairFaultCode);
    }
    void TearDown() override {
        if (repair_ != nullptr) RemoveVectoredExceptionHandler(repair_);
        WineDeviceTest::TearDown();
    }

    // A present, openable device with the stand-in behind it.
    int AddDevice(const StandIn::Setup& setup = {}, int pipeInstances = 16) {
        DeviceBench::Options options;
        options.pipeInstances = pipeInstances;
        int device = Add(options, setup);
        EXPECT_GE(device, 0);
        return device;
    }

    std::vector<StandIn::Packet> Requests(int device) const {
        StandIn::Record record = Record(device);
        int kept = std::min(record.requestCount, StandIn::MaxRequests);
        return {record.requests.begin(), record.requests.begin() + kept};
    }
    std::vector<std::uint8_t> Commands(int device) const {
        std::vector<std::uint8_t> commands;
        for (const auto& request : Requests(device)) commands.push_back(request[0]);
        return commands;
    }

private:
    void* repair_ = nullptr;
};

using Bytes = std::vector<std::uint8_t>;

TEST_F(EndToEndTest, GetDeviceIDIdentifiesTheDeviceWithTwoRequests) {
    StandIn::Setup setup;
    setup.state.deviceId = 0x80000001;
    int device = AddDevice(setup);
    std::int32_t flag = Sentinel, id = Sentinel;
    EXPECT_EQ(library.GetDeviceID(0, &flag, &id), 1);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(id, INT_MIN + 1);
    EXPECT_EQ(Commands(device), (Bytes{0x20, 0x24}));
    EXPECT_EQ(Record(device).initializes, 1);
    EXPECT_EQ(Record(device).frees, 1);
    ExpectReleased(device);
}

// The time-out that the library sets on both pipes reaches WinUSB.
TEST_F(EndToEndTest, BothPipesGetTheTransferTimeOut) {
    int device = AddDevice();
    std::int32_t flag = Sentinel, id = Sentinel;
    ASSERT_EQ(library.GetDeviceID(0, &flag, &id), 1);
    StandIn::Record record = Record(device);
    ASSERT_EQ(record.policyCount, 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(record.policies[i].type, static_cast<std::uint32_t>(PIPE_TRANSFER_TIMEOUT));
        EXPECT_EQ(record.policies[i].length, 4u);
        EXPECT_EQ(record.policies[i].value, 1000u);
    }
    EXPECT_EQ(record.policies[0].pipe, 0x01);
    EXPECT_EQ(record.policies[1].pipe, 0x81);
}

TEST_F(EndToEndTest, GetTemperatureDecodesThreeUnsignedReadings) {
    StandIn::Setup setup;
    setup.state.temperatures = {513, 65535, 256};
    int device = AddDevice(setup);
    std::int32_t flag = Sentinel, t1 = Sentinel, t2 = Sentinel, t3 = Sentinel;
    EXPECT_EQ(library.GetTemperature(0, &flag, &t1, &t2, &t3), 1);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(t1, 513);
    EXPECT_EQ(t2, 65535);
    EXPECT_EQ(t3, 256);
    EXPECT_EQ(Commands(device), (Bytes{0x20, 0x24, 0xD6}));
    ExpectReleased(device);
}

TEST_F(EndToEndTest, GetExternalInputIsOneOnlyForOne) {
    int device = AddDevice();
    for (auto [byte, expected] : {std::pair<std::uint8_t, std::int32_t>{1, 1}, {0, 0}, {2, 0}, {0xFF, 0}}) {
        StandIn::Setup setup;
        setup.state.externalInput = byte;
        Configure(device, setup);
        std::int32_t flag = Sentinel, input = Sentinel;
        EXPECT_EQ(library.GetExternalInput(0, &flag, &input), 1);
        EXPECT_EQ(flag, 0);
        EXPECT_EQ(input, expected) << "input byte " << int{byte};
    }
    ExpectReleased(device);
}

TEST_F(EndToEndTest, SetMainValueSendsTheValueAndGetWriteValueReadsItBack) {
    StandIn::Setup setup;
    setup.state.protectState = 0xFF;
    int device = AddDevice(setup);
    std::int32_t flag = Sentinel, protect = Sentinel;
    EXPECT_EQ(library.SetMainValue(0, &flag, -2, 5, &protect), 1);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(protect, 255);
    std::vector<StandIn::Packet> requests = Requests(device);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2][0], 0xD0);
    EXPECT_EQ((Bytes{requests[2][1], requests[2][2], requests[2][3], requests[2][4]}), (Bytes{0xFF, 0xFF, 0xFF, 0xFE}));
    EXPECT_EQ(requests[2][6], 0x01);
    EXPECT_EQ(State(device).mainValue, -2);

    std::int32_t value = Sentinel, set = Sentinel;
    protect = Sentinel;
    EXPECT_EQ(library.GetWriteValue(0, &flag, &value, &set, &protect), 1);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(value, -2);
    EXPECT_EQ(set, 1);
    EXPECT_EQ(protect, 255);

    EXPECT_EQ(library.SetMainValue(0, &flag, 258, 0, &protect), 1);
    requests = Requests(device);
    ASSERT_EQ(requests.size(), 9u);
    EXPECT_EQ((Bytes{requests[8][1], requests[8][2], requests[8][3], requests[8][4], requests[8][6]}),
              (Bytes{0x00, 0x00, 0x01, 0x02, 0x00}));
    EXPECT_EQ(State(device).mainValue, 258);
    ExpectReleased(device);
}

TEST_F(EndToEndTest, DevicePWRSendsTheLowByteOfModesUpToTwo) {
    int device = AddDevice();
    for (auto [mode, byte] : {std::pair<std::int32_t, std::uint8_t>{2, 0x02}, {0, 0x00}, {-1, 0xFF}}) {
        std::int32_t flag = Sentinel;
        EXPECT_EQ(library.DevicePWR(0, &flag, mode), 1) << mode;
        EXPECT_EQ(flag, 0);
        EXPECT_EQ(Requests(device).back()[0], 0xD8);
        EXPECT_EQ(Requests(device).back()[1], byte) << mode;
        EXPECT_EQ(State(device).powerMode, byte);
    }
    ExpectReleased(device);
}

TEST_F(EndToEndTest, SetDisplaySendsTheLowByteOfTheContrastFromFirmware263) {
    StandIn::Setup setup;
    setup.state.firmwareVersion = 263;
    int device = AddDevice(setup);
    std::int32_t flag = Sentinel;
    EXPECT_EQ(library.SetDisplay(0, &flag, 300), 1);
    EXPECT_EQ(flag, 0);
    StandIn::Packet request = Requests(device).back();
    EXPECT_EQ((Bytes{request[0], request[1], request[2]}), (Bytes{0xDA, 0x01, 44}));
    EXPECT_EQ(State(device).contrast, 44);
    ExpectReleased(device);
}

// A refused gate still identifies the device, sends no operation request and
// leaves the status at 0.
TEST_F(EndToEndTest, GatesRefuseModeThreeAndFirmware262) {
    StandIn::Setup setup;
    setup.state.firmwareVersion = 262;
    int device = AddDevice(setup);
    std::int32_t flag = Sentinel;
    EXPECT_EQ(library.DevicePWR(0, &flag, 3), 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(library.SetDisplay(0, &flag, 40), 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(Commands(device), (Bytes{0x20, 0x24, 0x20, 0x24}));
    EXPECT_EQ(State(device).contrast, 0);
    ExpectReleased(device);
}

struct HandshakeCase {
    const char* name;
    void (*script)(StandIn::Setup&);
    std::int32_t status;
    std::size_t requests;
};

class HandshakeTest : public EndToEndTest, public ::testing::WithParamInterface<HandshakeCase> {};

// A failing identification request ends the call with its status; the
// device is closed and its interface freed all the same.
TEST_P(HandshakeTest, FailingRequestGivesItsStatus) {
    StandIn::Setup setup;
    GetParam().script(setup);
    int device = AddDevice(setup);
    std::int32_t flag = Sentinel, id = Sentinel;
    EXPECT_EQ(library.GetDeviceID(0, &flag, &id), 0);
    EXPECT_EQ(flag, GetParam().status);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(Requests(device).size(), GetParam().requests);
    EXPECT_EQ(Record(device).frees, 1);
    ExpectReleased(device);

    // The next call on a device that answers again succeeds.
    Configure(device, StandIn::Setup{});
    EXPECT_EQ(library.GetDeviceID(0, &flag, &id), 1);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(id, static_cast<std::int32_t>(ZorekInstrument::State{}.deviceId));
}

INSTANTIATE_TEST_SUITE_P(
    Stages, HandshakeTest,
    ::testing::Values(HandshakeCase{"ForeignDeviceCode", [](StandIn::Setup& s) { s.state.deviceCode = 0x92; }, 5, 1},
                      HandshakeCase{"InformationStalled", [](StandIn::Setup& s) { s.stalled = 0x20; }, 5, 1},
                      HandshakeCase{"WriteFaults", [](StandIn::Setup& s) { s.writeFaults = 1; }, 5, 0},
                      HandshakeCase{"ReadFaults", [](StandIn::Setup& s) { s.readFaults = 1; }, 5, 1},
                      HandshakeCase{"ParametersStalled", [](StandIn::Setup& s) { s.stalled = 0x24; }, 6, 2},
                      // No reply at all: the pipe's time-out ends the read.
                      HandshakeCase{"ParametersUnanswered", [](StandIn::Setup& s) { s.unanswered = 0x24; }, 6, 2},
                      HandshakeCase{"ParameterWriteFaults",
                                    [](StandIn::Setup& s) {
                                        s.writeFaultsAfter = 1;
                                        s.writeFaults = 1;
                                    },
                                    6, 1}),
    [](const ::testing::TestParamInfo<HandshakeCase>& info) { return std::string(info.param.name); });

TEST_F(EndToEndTest, SilentReadEndsWithThePipeTimeOut) {
    StandIn::Setup setup;
    setup.unanswered = 0x20;
    int device = AddDevice(setup);
    std::int32_t flag = Sentinel, id = Sentinel;
    EXPECT_EQ(library.GetDeviceID(0, &flag, &id), 0);
    EXPECT_EQ(flag, 5);
    EXPECT_FALSE(Record(device).waitedTooLong) << "the read found no time-out on its pipe";
    ExpectReleased(device);
}

// A failed operation request, by a stalled reply or by an access violation
// in its transfer: result 0, status 0, the outputs as they were.
TEST_F(EndToEndTest, FailedOperationLeavesStatusZeroAndOutputsUntouched) {
    int device = AddDevice();
    for (int fault = 0; fault < 2; ++fault) {
        StandIn::Setup setup;
        if (fault) {
            setup.writeFaultsAfter = 2;
            setup.writeFaults = 1;
        } else {
            setup.stalled = 0xD6;
        }
        Configure(device, setup);
        std::int32_t flag = Sentinel, t1 = Sentinel, t2 = Sentinel, t3 = Sentinel;
        EXPECT_EQ(library.GetTemperature(0, &flag, &t1, &t2, &t3), 0) << "fault " << fault;
        EXPECT_EQ(flag, 0);
        EXPECT_EQ(t1, Sentinel);
        EXPECT_EQ(t2, Sentinel);
        EXPECT_EQ(t3, Sentinel);
        ExpectReleased(device);
    }
}

TEST_F(EndToEndTest, FailedInitialisationSendsNothingAndClosesTheDevice) {
    StandIn::Setup setup;
    setup.failInitialize = true;
    int device = AddDevice(setup);
    std::int32_t flag = Sentinel, value = Sentinel, set = Sentinel, protect = Sentinel;
    EXPECT_EQ(library.GetWriteValue(0, &flag, &value, &set, &protect), 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(value, Sentinel);
    StandIn::Record record = Record(device);
    EXPECT_EQ(record.initializes, 1);
    EXPECT_EQ(record.writes, 0);
    EXPECT_EQ(record.policyCount, 0);
    EXPECT_EQ(record.frees, 0);
    EXPECT_EQ(standIn.Totals().invalidHandleCalls, 0);
    EXPECT_EQ(bench.Opens(device), 1);
    ExpectReleased(device);
}

// An access violation in WinUsb_Free: the call keeps its result, the
// interface stays unfreed, and the process goes on.
TEST_F(EndToEndTest, AccessViolationInFreeKeepsTheResult) {
    StandIn::Setup setup;
    setup.freeFaults = 1;
    setup.state.deviceId = 77;
    int device = AddDevice(setup);
    std::int32_t flag = Sentinel, id = Sentinel;
    EXPECT_EQ(library.GetDeviceID(0, &flag, &id), 1);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(id, 77);
    EXPECT_EQ(Record(device).liveInterfaces, 1);
    EXPECT_EQ(bench.OpenClients(device), 0);

    EXPECT_EQ(library.GetDeviceID(0, &flag, &id), 1);
    EXPECT_EQ(Record(device).frees, 1);
    EXPECT_EQ(Record(device).liveInterfaces, 1);
}

// Many access violations in a row, each caught: the transfer-busy flag is
// released every time and the next call goes through.
TEST_F(EndToEndTest, EveryAccessViolationInARowIsCaught) {
    constexpr int Faults = 200;
    StandIn::Setup setup;
    setup.writeFaults = Faults;
    int device = AddDevice(setup, Faults + 4);
    int caught = 0;
    for (int i = 0; i < Faults; ++i) {
        std::int32_t flag = Sentinel, id = Sentinel;
        caught += library.GetDeviceID(0, &flag, &id) == 0 && flag == 5;
    }
    EXPECT_EQ(caught, Faults);
    std::int32_t flag = Sentinel, id = Sentinel;
    EXPECT_EQ(library.GetDeviceID(0, &flag, &id), 1);
    EXPECT_EQ(flag, 0);
    ExpectReleased(device);
}

// A fault that the stand-in handles itself stays with its own handler; the
// library's guard around it still catches the next one.
TEST_F(EndToEndTest, FaultsTheCalleeHandlesItselfStayWithIt) {
    StandIn::Setup setup;
    setup.ownWriteFaults = 2;
    int device = AddDevice(setup);
    std::int32_t flag = Sentinel, id = Sentinel;
    EXPECT_EQ(library.GetDeviceID(0, &flag, &id), 1);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(Record(device).caughtOwnFaults, 2);

    setup.ownWriteFaults = 0;
    setup.writeFaults = 1;
    Configure(device, setup);
    EXPECT_EQ(library.GetDeviceID(0, &flag, &id), 0);
    EXPECT_EQ(flag, 5);
    EXPECT_EQ(library.GetDeviceID(0, &flag, &id), 1);
    ExpectReleased(device);
}

int foreignExceptions = 0;

LONG WINAPI ContinueForeign(EXCEPTION_POINTERS* pointers) {
    if (pointers->ExceptionRecord->ExceptionCode != StandIn::ForeignExceptionCode) return EXCEPTION_CONTINUE_SEARCH;
    ++foreignExceptions;
    return EXCEPTION_CONTINUE_EXECUTION;
}

// An exception other than an access violation passes the guard on to the
// handlers further out; here the process's filter lets the write go on.
TEST_F(EndToEndTest, OtherExceptionsPassTheGuard) {
    StandIn::Setup setup;
    setup.foreignWriteExceptions = 1;
    int device = AddDevice(setup);
    foreignExceptions = 0;
    LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(&ContinueForeign);
    std::int32_t flag = Sentinel, id = Sentinel;
    std::int32_t result = library.GetDeviceID(0, &flag, &id);
    SetUnhandledExceptionFilter(previous);
    EXPECT_EQ(foreignExceptions, 1);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(flag, 0);
    ExpectReleased(device);
}

// Several threads at once on two devices, and one more on a device whose
// every write faults: every call gets its own answer, no request is written
// while another exchange's reply is unread, and nothing stays open.
TEST_F(EndToEndTest, SeveralThreadsAtOnce) {
    constexpr int Workers = 3, Calls = 10;
    StandIn::Setup first, second, faulty;
    first.state.deviceId = 0xA1;
    first.state.temperatures = {1, 2, 3};
    first.latencyMs = 1;
    second.state.deviceId = 0xB2;
    second.state.temperatures = {4, 5, 6};
    second.latencyMs = 1;
    faulty.writeFaults = Calls;
    int a = AddDevice(first, Workers * Calls), b = AddDevice(second, Workers * Calls), c = AddDevice(faulty, Calls + 2);

    struct Outcome {
        std::int32_t result, flag, id, tmp1;
    };
    std::vector<std::vector<Outcome>> outcomes(Workers + 1, std::vector<Outcome>(Calls));
    std::vector<std::thread> threads;
    for (int w = 0; w < Workers; ++w)
        threads.emplace_back([&, w] {
            for (int i = 0; i < Calls; ++i) {
                Outcome& o = outcomes[w][i];
                o = {Sentinel, Sentinel, Sentinel, Sentinel};
                std::int32_t USBID = (w + i) % 2, t2 = 0, t3 = 0;
                o.result = i % 3 == 0 ? library.GetTemperature(USBID, &o.flag, &o.tmp1, &t2, &t3)
                                      : library.GetDeviceID(USBID, &o.flag, &o.id);
            }
        });
    threads.emplace_back([&] {
        for (int i = 0; i < Calls; ++i) {
            Outcome& o = outcomes[Workers][i];
            o = {Sentinel, Sentinel, Sentinel, Sentinel};
            o.result = library.GetDeviceID(2, &o.flag, &o.id);
        }
    });
    for (auto& thread : threads) thread.join();

    for (int w = 0; w < Workers; ++w)
        for (int i = 0; i < Calls; ++i) {
            const Outcome& o = outcomes[w][i];
            bool onFirst = (w + i) % 2 == 0;
            SCOPED_TRACE("worker " + std::to_string(w) + " call " + std::to_string(i));
            EXPECT_EQ(o.result, 1);
            EXPECT_EQ(o.flag, 0);
            if (i % 3 == 0)
                EXPECT_EQ(o.tmp1, onFirst ? 1 : 4);
            else
                EXPECT_EQ(o.id, onFirst ? 0xA1 : 0xB2);
        }
    for (const Outcome& o : outcomes[Workers]) {
        EXPECT_EQ(o.result, 0);
        EXPECT_EQ(o.flag, 5);
    }
    EXPECT_EQ(standIn.Totals().interleavings, 0);
    for (int device : {a, b, c}) ExpectReleased(device);
}

}  // namespace
