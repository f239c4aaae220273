// Fixture of the suites with devices: zorek.dll loaded, the stand-in
// winusb.dll that it brought along reset, and a bench for root devices whose
// pipes the stand-in serves.
#pragma once

#include <gtest/gtest.h>

#include <map>

#include "standin_control.h"
#include "wine_devices.h"
#include "zorek_library.h"

class WineDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(library.Module(), nullptr) << "LoadLibraryW(zorek.dll) failed with error " << library.LoadError();
        ASSERT_TRUE(standIn.Loaded()) << "winusb.dll is not the stand-in: run with WINEDLLOVERRIDES=winusb=n";
        standIn.Reset();
    }
    void TearDown() override {
        if (standIn.Loaded()) standIn.Reset();
    }

    // Adds a device; with a pipe, the stand-in serves it with setup.
    int Add(const DeviceBench::Options& options = {}, const StandIn::Setup& setup = {}) {
        int device = bench.Add(options);
        if (device >= 0 && options.pipeInstances > 0) slots[device] = standIn.Attach(bench.PipeName(device), setup);
        return device;
    }
    int Add(const StandIn::Setup& setup) { return Add(DeviceBench::Options{}, setup); }

    StandIn::Record Record(int device) const { return standIn.Record(slots.at(device)); }
    ZorekInstrument::State State(int device) const { return standIn.State(slots.at(device)); }
    void Configure(int device, const StandIn::Setup& setup) const { standIn.Configure(slots.at(device), setup); }

    // After a call: no client end of the device's pipe and no interface
    // handle of the stand-in left open.
    void ExpectReleased(int device) const {
        EXPECT_EQ(bench.OpenClients(device), 0) << "a device handle stayed open";
        if (slots.count(device) != 0) {
            EXPECT_EQ(Record(device).liveInterfaces, 0) << "an interface stayed unfreed";
        }
    }

    ZorekLibrary library;
    StandInControl standIn;
    DeviceBench bench;
    std::map<int, int> slots;  // device -> stand-in slot
};

inline constexpr std::int32_t Sentinel = 0x5A5A5A5A;
