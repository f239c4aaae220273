// Shared fixture: a bus without devices at the start of each test, and at its
// end the check that the code under test closed every device node it opened
// and let go of every interface it claimed.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "usb_emulation.h"

class UsbTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_TRUE(bus.WaitUntilClosed()) << "a device node was left open";
        for (int device : added_) EXPECT_FALSE(bus.Seen(device).claimed) << bus.Node(device) << " is still claimed";
        bus.RemoveAll();
    }

    int Add(const ZorekUsb::DeviceConfig& config) {
        int device = bus.Add(config);
        added_.push_back(device);
        return device;
    }
    // An instrument at bus-ports whose device identifier is id.
    int AddInstrument(std::uint8_t busNumber, std::vector<std::uint8_t> ports, std::uint32_t id = 0x00012345) {
        ZorekUsb::DeviceConfig config;
        config.bus = busNumber;
        config.ports = std::move(ports);
        config.state.deviceId = id;
        return Add(config);
    }
    int AddHub(std::uint8_t busNumber, std::vector<std::uint8_t> ports) {
        ZorekUsb::DeviceConfig config;
        config.bus = busNumber;
        config.ports = std::move(ports);
        config.vendorId = 0x1209;
        config.productId = 0x0001;
        config.hub = true;
        return Add(config);
    }

    ZorekUsb::Testbed& bus = ZorekUsb::Testbed::Instance();

private:
    std::vector<int> added_;
};
