// Every way each platform call of a successful device call can fail, and what
// the caller must see then.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "sim_fixture.h"

struct Expected {
    std::int32_t result;
    std::int32_t status;
    bool outputsWritten;           // the function's outputs hold the device's values
    ZorekSim::OpenResources left;  // what the failed call keeps open
};

struct Injection {
    std::string description;
    ZorekSim::Fault fault;
    Expected expected;
};

// The platform calls a successful call of f makes, recorded on a fresh
// platform with one plain device.
std::vector<ZorekSim::Call> RecordSuccessfulCall(const DeviceFunction& f);

// One injection for every way every call of the recorded sequence can fail.
std::vector<Injection> Injections(const std::vector<ZorekSim::Call>& sequence);

// The outputs a successful call of f writes on a device in this state.
std::vector<std::int32_t> SuccessOutputs(const DeviceFunction& f, const ZorekInstrument::State& state = {});
