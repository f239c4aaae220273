// Emulated USB devices for the libusb platform's tests: umockdev's testbed
// holds hand-written device descriptions, and an ioctl handler on each device
// node plays usbfs and, behind it, the instrument's firmware. The test binary
// runs under umockdev-wrapper, which points libusb at the testbed.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "instrument/instrument.h"

namespace ZorekUsb {

using Packet = ZorekInstrument::Packet;

struct DeviceConfig {
    std::uint8_t bus = 1;
    // Hub ports from the root hub down; a hub must already sit at every
    // shorter prefix of a path with more than one port.
    std::vector<std::uint8_t> ports = {2};
    std::uint16_t vendorId = 0x04D8;
    std::uint16_t productId = 0x00DF;
    std::uint16_t bcdDevice = 0x0107;
    bool hub = false;  // a hub: listed by the bus, never opened
    ZorekInstrument::State state{};
};

// What one device saw, as counts and the requests written to it.
struct Activity {
    std::vector<Packet> requests;  // the 64-byte packets written to endpoint 0x01
    int opens = 0;                 // device-node connections made
    int closes = 0;                // device-node connections closed again
    int claims = 0;                // interface claims granted
    int refusedClaims = 0;         // interface claims refused
    int releases = 0;              // interfaces released by request
    int discards = 0;              // URBs cancelled (a transfer time-out)
    int requestsWithoutClaim = 0;  // requests from a connection that did not hold interface 0
    bool claimed = false;          // interface 0 held now
};

// The process's one testbed; created on first use, before the code under test
// first looks at the bus.
class Testbed {
public:
    static Testbed& Instance();
    ~Testbed();

    // Adds a device and returns its number for the calls below.
    int Add(const DeviceConfig& config);
    // Unplugs the device.
    void Remove(int device);
    void RemoveAll();

    // Deletes the device node while the bus still lists the device, so that
    // opening it fails as for a node that udev has not (yet) created.
    void DeleteNode(int device);

    // Requests are received but never answered.
    void SetSilent(int device, bool silent);
    // Interface claims fail with this errno (0: granted when free).
    void SetClaimError(int device, int error);

    ZorekInstrument::State State(int device);
    Activity Seen(int device);
    std::string Node(int device);  // "/dev/bus/usb/BBB/DDD"

    // Waits until every connection to every device node is gone; false when
    // one is still open after the limit.
    bool WaitUntilClosed(std::chrono::milliseconds limit = std::chrono::seconds(5));

    struct Impl;

private:
    Testbed();
    std::unique_ptr<Impl> impl_;
};

}  // namespace ZorekUsb
