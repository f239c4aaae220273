#include "usb_emulation.h"

// clang-format off
#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
// clang-format on
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace ZorekUsb {
namespace {

constexpr std::uint8_t RequestEndpoint = 0x01;
constexpr std::uint8_t ReplyEndpoint = 0x81;

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char digits[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", b);
        text += digits;
    }
    return text;
}

// Device descriptor and one configuration: interface 0, vendor class (a hub's
// for a hub), bulk endpoints 0x01 and 0x81 of 64 bytes.
std::vector<std::uint8_t> Descriptors(const DeviceConfig& config) {
    auto low = [](std::uint16_t v) { return static_cast<std::uint8_t>(v); };
    auto high = [](std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); };
    std::uint8_t deviceClass = config.hub ? 0x09 : 0x00;
    std::uint8_t interfaceClass = config.hub ? 0x09 : 0xFF;
    return {
        0x12,
        0x01,
        0x00,
        0x02,
        deviceClass,
        0x00,
        0x00,
        0x40,
        low(config.vendorId),
        high(config.vendorId),
        low(config.productId),
        high(config.productId),
        low(config.bcdDevice),
        high(config.bcdDevice),
        0x00,
        0x00,
        0x00,
        0x01,
        0x09,
        0x02,
        0x20,
        0x00,
        0x01,
        0x01,
        0x00,
        0x80,
        0x32,  // configuration
        0x09,
        0x04,
        0x00,
        0x00,
        0x02,
        interfaceClass,
        0x00,
        0x00,
        0x00,  // interface 0
        0x07,
        0x05,
        RequestEndpoint,
        0x02,
        0x40,
        0x00,
        0x00,  // bulk OUT
        0x07,
        0x05,
        ReplyEndpoint,
        0x02,
        0x40,
        0x00,
        0x00,  // bulk IN
    };
}

std::string SysName(const DeviceConfig& config, std::size_t depth) {
    std::string name = std::to_string(config.bus);
    for (std::size_t i = 0; i < depth; ++i) name += (i == 0 ? "-" : ".") + std::to_string(config.ports[i]);
    return name;
}

std::string SysPath(const DeviceConfig& config) {
    std::string path = "/sys/devices/pci0000:00/0000:00:14.0/usb" + std::to_string(config.bus);
    for (std::size_t depth = 1; depth <= config.ports.size(); ++depth) path += "/" + SysName(config, depth);
    return path;
}

struct DataDeleter {
    void operator()(UMockdevIoctlData* data) const { g_object_unref(data); }
};
using Data = std::unique_ptr<UMockdevIoctlData, DataDeleter>;

Data Resolve(UMockdevIoctlData* data, std::size_t offset, std::size_t length) {
    GError* error = nullptr;
    Data resolved(umockdev_ioctl_data_resolve(data, offset, length, &error));
    if (error != nullptr) {
        std::fprintf(stderr, "usb emulation: cannot resolve ioctl data: %s\n", error->message);
        g_error_free(error);
    }
    return resolved;
}

// A submitted URB, kept until a reap hands it back.
struct Urb {
    Data urb;
    Data buffer;
    bool discarded = false;

    usbdevfs_urb& Fields() { return *reinterpret_cast<usbdevfs_urb*>(urb->data); }
    bool In() { return (Fields().endpoint & 0x80) != 0; }
};

struct ClientDeleter {
    void operator()(UMockdevIoctlClient* client) const { g_object_unref(client); }
};

// One open of the device node.
struct Connection {
    std::unique_ptr<UMockdevIoctlClient, ClientDeleter> client;
    bool open = true;
    std::deque<Urb> urbs;  // in submission order
};

}  // namespace

struct Device {
    Testbed::Impl* bed;
    DeviceConfig config;
    int devnum;
    std::string sysPath;
    std::string node;
    UMockdevIoctlBase* handler = nullptr;
    bool present = true;
    bool silent = false;
    int claimError = 0;
    UMockdevIoctlClient* claimedBy = nullptr;
    std::deque<Packet> replies;
    std::map<UMockdevIoctlClient*, Connection> connections;
    Activity seen;
};

struct Testbed::Impl {
    UMockdevTestbed* testbed = nullptr;
    std::mutex mutex;                              // guards every device; the handlers run on umockdev's worker thread
    std::vector<std::unique_ptr<Device>> devices;  // kept until the end: handlers may still be called
    std::map<std::uint8_t, int> nextDevnum;

    Device& At(int device) { return *devices.at(static_cast<std::size_t>(device)); }
};

namespace {

Connection& Track(Device& device, UMockdevIoctlClient* client) {
    auto [found, fresh] = device.connections.try_emplace(client);
    if (fresh) {
        found->second.client.reset(static_cast<UMockdevIoctlClient*>(g_object_ref(client)));
        ++device.seen.opens;
    }
    return found->second;
}

// The kernel releases what a closed file held. umockdev marks a connection
// whose file was closed as no longer connected.
void Sweep(Device& device) {
    for (auto& [client, connection] : device.connections) {
        if (!connection.open || umockdev_ioctl_client_get_connected(client)) continue;
        connection.open = false;
        connection.urbs.clear();
        if (device.claimedBy == client) device.claimedBy = nullptr;
        ++device.seen.closes;
    }
}

void Complete(UMockdevIoctlClient* client, long result = 0, int error = 0) {
    umockdev_ioctl_client_complete(client, result, error);
}

void Submit(Device& device, Connection& connection, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    Data urb = Resolve(arg, 0, sizeof(usbdevfs_urb));
    if (urb == nullptr) return Complete(client, -1, EFAULT);
    auto& fields = *reinterpret_cast<usbdevfs_urb*>(urb->data);
    if (fields.type != USBDEVFS_URB_TYPE_BULK || fields.buffer_length < 0 ||
        (fields.endpoint != RequestEndpoint && fields.endpoint != ReplyEndpoint))
        return Complete(client, -1, EINVAL);
    Data buffer = Resolve(urb.get(), offsetof(usbdevfs_urb, buffer), static_cast<std::size_t>(fields.buffer_length));
    if (buffer == nullptr) return Complete(client, -1, EFAULT);
    if (fields.endpoint == RequestEndpoint) {
        Packet request{};
        std::memcpy(request.data(), buffer->data, std::min<std::size_t>(request.size(), fields.buffer_length));
        device.seen.requests.push_back(request);
        if (device.claimedBy != client) ++device.seen.requestsWithoutClaim;
        if (auto reply = ZorekInstrument::Answer(device.config.state, request); reply && !device.silent)
            device.replies.push_back(*reply);
        fields.actual_length = fields.buffer_length;
        fields.status = 0;
    }
    connection.urbs.push_back(Urb{std::move(urb), std::move(buffer)});
    Complete(client);
}

// Hands back the first URB that is done: a request, a cancelled read, or a
// read for which a reply is waiting (written into its buffer now).
void Reap(Device& device, Connection& connection, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    for (auto it = connection.urbs.begin(); it != connection.urbs.end(); ++it) {
        usbdevfs_urb& fields = it->Fields();
        if (it->discarded) {
            fields.status = -ENOENT;
            fields.actual_length = 0;
        } else if (it->In()) {
            if (device.replies.empty()) continue;
            Packet reply = device.replies.front();
            device.replies.pop_front();
            auto length = std::min<std::size_t>(reply.size(), static_cast<std::size_t>(fields.buffer_length));
            std::memcpy(it->buffer->data, reply.data(), length);
            fields.actual_length = static_cast<int>(length);
            fields.status = 0;
        }
        Data slot = Resolve(arg, 0, sizeof(void*));
        if (slot == nullptr) return Complete(client, -1, EFAULT);
        umockdev_ioctl_data_set_ptr(slot.get(), 0, it->urb.get());
        connection.urbs.erase(it);
        return Complete(client);
    }
    Complete(client, -1, EAGAIN);
}

void Discard(Device& device, Connection& connection, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    gulong address = 0;
    std::memcpy(&address, arg->data, std::min<std::size_t>(sizeof address, static_cast<std::size_t>(arg->data_len)));
    for (Urb& urb : connection.urbs) {
        if (urb.urb->client_addr == address && !urb.discarded) {
            urb.discarded = true;
            ++device.seen.discards;
            return Complete(client);
        }
    }
    Complete(client, -1, EINVAL);
}

void Claim(Device& device, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    Data number = Resolve(arg, 0, sizeof(unsigned));
    if (number == nullptr) return Complete(client, -1, EFAULT);
    unsigned interface = 0;
    std::memcpy(&interface, number->data, sizeof interface);
    int error = interface != 0                                              ? ENOENT
                : device.claimError != 0                                    ? device.claimError
                : device.claimedBy != nullptr && device.claimedBy != client ? EBUSY
                                                                            : 0;
    if (error != 0) {
        ++device.seen.refusedClaims;
        return Complete(client, -1, error);
    }
    if (device.claimedBy != client) ++device.seen.claims;
    device.claimedBy = client;
    Complete(client);
}

void Release(Device& device, UMockdevIoctlClient* client) {
    if (device.claimedBy != client) return Complete(client, -1, EINVAL);
    device.claimedBy = nullptr;
    ++device.seen.releases;
    Complete(client);
}

gboolean HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto& device = *static_cast<Device*>(data);
    std::lock_guard lock(device.bed->mutex);
    gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    Sweep(device);
    Connection& connection = Track(device, client);
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            Data capabilities = Resolve(arg, 0, sizeof(std::uint32_t));
            if (capabilities == nullptr) {
                Complete(client, -1, EFAULT);
            } else {
                std::memset(capabilities->data, 0, sizeof(std::uint32_t));
                Complete(client);
            }
            break;
        }
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_DISCONNECT_CLAIM: Claim(device, client, arg); break;
        case USBDEVFS_RELEASEINTERFACE: Release(device, client); break;
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESET: Complete(client); break;
        case USBDEVFS_GETDRIVER:
        case USBDEVFS_IOCTL: Complete(client, -1, ENODATA); break;  // no kernel driver to report or attach
        case USBDEVFS_SUBMITURB: Submit(device, connection, client, arg); break;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY: Reap(device, connection, client, arg); break;
        case USBDEVFS_DISCARDURB: Discard(device, connection, client, arg); break;
        default:
            std::fprintf(stderr, "usb emulation: %s: ioctl 0x%lx not emulated\n", device.node.c_str(), request);
            Complete(client, -1, ENOTTY);
    }
    return TRUE;
}

void Connected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto& device = *static_cast<Device*>(data);
    std::lock_guard lock(device.bed->mutex);
    Track(device, client);
}

void Check(gboolean done, GError* error, const std::string& what) {
    if (done && error == nullptr) return;
    std::string message = what + ": " + (error != nullptr ? error->message : "failed");
    if (error != nullptr) g_error_free(error);
    throw std::runtime_error(message);
}

}  // namespace

Testbed& Testbed::Instance() {
    static Testbed testbed;
    return testbed;
}

Testbed::Testbed() : impl_(std::make_unique<Impl>()) { impl_->testbed = umockdev_testbed_new(); }

Testbed::~Testbed() {
    RemoveAll();
    for (auto& device : impl_->devices) g_object_unref(device->handler);
    g_object_unref(impl_->testbed);
}

int Testbed::Add(const DeviceConfig& config) {
    std::lock_guard lock(impl_->mutex);
    auto device = std::make_unique<Device>();
    device->bed = impl_.get();
    device->config = config;
    auto [next, fresh] = impl_->nextDevnum.try_emplace(config.bus, 2);
    device->devnum = next->second++;
    device->sysPath = SysPath(config);
    char node[32];
    std::snprintf(node, sizeof node, "bus/usb/%03u/%03d", config.bus, device->devnum);
    device->node = std::string("/dev/") + node;
    std::string description =
        "P: " + device->sysPath.substr(4) + "\nN: " + node + "\nE: DEVNAME=" + device->node +
        "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: BUSNUM=" + device->node.substr(13, 3) +
        "\nE: DEVNUM=" + device->node.substr(17, 3) + "\nA: busnum=" + std::to_string(config.bus) +
        "\nA: devnum=" + std::to_string(device->devnum) +
        "\nA: speed=12\nA: bConfigurationValue=1\nH: descriptors=" + Hex(Descriptors(config)) + "\n";
    GError* error = nullptr;
    Check(umockdev_testbed_add_from_string(impl_->testbed, description.c_str(), &error), error,
          "adding " + device->sysPath);
    device->handler = umockdev_ioctl_base_new();
    g_signal_connect(device->handler, "handle-ioctl", G_CALLBACK(HandleIoctl), device.get());
    g_signal_connect(device->handler, "client-connected", G_CALLBACK(Connected), device.get());
    Check(umockdev_testbed_attach_ioctl(impl_->testbed, device->node.c_str(), device->handler, &error), error,
          "attaching to " + device->node);
    impl_->devices.push_back(std::move(device));
    return static_cast<int>(impl_->devices.size() - 1);
}

void Testbed::Remove(int index) {
    std::string node, sysPath;
    {
        std::lock_guard lock(impl_->mutex);
        Device& device = impl_->At(index);
        if (!device.present) return;
        device.present = false;
        node = device.node;
        sysPath = device.sysPath;
    }
    GError* error = nullptr;
    umockdev_testbed_detach_ioctl(impl_->testbed, node.c_str(), &error);
    if (error != nullptr) g_error_free(error);
    umockdev_testbed_remove_device(impl_->testbed, sysPath.c_str());
}

void Testbed::RemoveAll() {
    std::size_t count;
    {
        std::lock_guard lock(impl_->mutex);
        count = impl_->devices.size();
    }
    // Deepest first, so that no device outlives the hub it hangs from.
    for (std::size_t i = count; i-- > 0;) Remove(static_cast<int>(i));
}

void Testbed::DeleteNode(int device) {
    std::string node = Node(device);
    GError* error = nullptr;
    Check(umockdev_testbed_detach_ioctl(impl_->testbed, node.c_str(), &error), error, "detaching from " + node);
    gchar* root = umockdev_testbed_get_root_dir(impl_->testbed);
    std::string path = std::string(root) + node;
    g_free(root);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        throw std::runtime_error("cannot delete " + path + ": " + std::strerror(errno));
}

void Testbed::SetSilent(int device, bool silent) {
    std::lock_guard lock(impl_->mutex);
    impl_->At(device).silent = silent;
}

void Testbed::SetClaimError(int device, int error) {
    std::lock_guard lock(impl_->mutex);
    impl_->At(device).claimError = error;
}

ZorekInstrument::State Testbed::State(int device) {
    std::lock_guard lock(impl_->mutex);
    return impl_->At(device).config.state;
}

Activity Testbed::Seen(int device) {
    std::lock_guard lock(impl_->mutex);
    Device& d = impl_->At(device);
    Sweep(d);
    Activity seen = d.seen;
    seen.claimed = d.claimedBy != nullptr;
    return seen;
}

std::string Testbed::Node(int device) {
    std::lock_guard lock(impl_->mutex);
    return impl_->At(device).node;
}

bool Testbed::WaitUntilClosed(std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        {
            std::lock_guard lock(impl_->mutex);
            bool closed = true;
            for (auto& device : impl_->devices) {
                Sweep(*device);
                closed = closed && device->seen.opens == device->seen.closes;
            }
            if (closed) return true;
        }
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace ZorekUsb
