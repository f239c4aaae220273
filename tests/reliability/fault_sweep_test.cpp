// Every platform call of every device function, failing in every way it can:
// the status code of the failing stage, outputs untouched, nothing left open
// that the library could release, and TRB free.
#include <iostream>

#include "fault_oracle.h"
#include "protocol/exchange.h"

using namespace ZorekSim;

TEST(FaultSweep, EveryCallFailingInEveryWay) {
    std::size_t runs = 0;
    for (const auto& f : DeviceFunctions()) {
        const auto sequence = RecordSuccessfulCall(f);
        const auto success = SuccessOutputs(f);
        ASSERT_GE(sequence.size(), 20u) << f.name;
        for (const auto& injection : Injections(sequence)) {
            SCOPED_TRACE(f.name + ": " + injection.description);
            Reset();
            SetTimeoutScale(0.001);
            AddDevice();
            InjectFault(injection.fault);
            Outcome outcome = Invoke(f);
            const Expected& e = injection.expected;
            EXPECT_EQ(outcome.result, e.result);
            EXPECT_EQ(outcome.status, e.status);
            if (e.outputsWritten) {
                EXPECT_EQ(outcome.outputs, success);
            } else {
                EXPECT_EQ(outcome.outputs, UntouchedOutputs(f));
            }
            EXPECT_EQ(Open(), e.left);
            EXPECT_FALSE(ZorekInterface::TRB.load());
            EXPECT_EQ(InterleaveViolations(), 0u);
            ++runs;
        }
    }
    Reset();  // frees what the failed releases kept
    std::cout << "fault sweep: " << runs << " injected runs\n";
    EXPECT_GT(runs, 100u);
}
