#include "protocol/requests.h"

#include "protocol/exchange.h"

namespace ZorekInterface {
namespace {

constexpr std::uint8_t DeviceInfoCommand = 0x20;
constexpr std::uint8_t DeviceParamCommand = 0x24;
constexpr std::uint8_t SetMainValueCommand = 0xD0;
constexpr std::uint8_t WriteValueCommand = 0xD2;
constexpr std::uint8_t StatusCommand = 0xD6;
constexpr std::uint8_t MenuCommand = 0xD8;
constexpr std::uint8_t DisplayCommand = 0xDA;

Packet Request(std::uint8_t command) {
    Packet request{};
    request[0] = command;
    return request;
}

// Exchanges the request; true when the reply carries its reply code.
bool Ask(Handle interfaceHandle, Packet& request, Packet& reply) {
    Exchange(interfaceHandle, request, reply);
    return Answers(request, reply);
}

std::int32_t Little32(const Packet& reply, std::size_t at) {
    return static_cast<std::int32_t>(std::uint32_t{reply[at]} | std::uint32_t{reply[at + 1]} << 8 |
                                     std::uint32_t{reply[at + 2]} << 16 | std::uint32_t{reply[at + 3]} << 24);
}

std::int32_t Little16(const Packet& reply, std::size_t at) { return reply[at] | reply[at + 1] << 8; }

bool IsDeviceCode(std::uint8_t code) { return code == 0x93 || code == 0x94 || code == 0x95; }

}  // namespace

bool GetDeviceInfo(Handle MyWinUSBInterfaceHandle, Handle, std::int32_t* firmDeviceID, std::int32_t* stringDeviceName,
                   std::int32_t* stringDeviceVersion, std::int32_t* stringDeviceType, std::int32_t* stringDeviceLine) {
    Packet request = Request(DeviceInfoCommand), reply;
    if (!Ask(MyWinUSBInterfaceHandle, request, reply) || !IsDeviceCode(reply[1])) return false;
    *stringDeviceVersion = reply[2] << 8 | reply[3];
    *stringDeviceName = reply[4];
    *stringDeviceType = reply[6];
    // The line code of byte 5 takes the place of the device code of byte 1.
    *firmDeviceID = reply[5];
    if (reply[5] == 0x93 || reply[5] == 0x95) *stringDeviceLine = 1;
    if (reply[5] == 0x94) *stringDeviceLine = 0;
    return true;
}

bool GetDeviceParam(Handle MyWinUSBInterfaceHandle, Handle, std::int32_t* deviceID, std::int32_t* deviceNumStart,
                    std::int32_t* deviceTimeAtConnect) {
    Packet request = Request(DeviceParamCommand), reply;
    if (!Ask(MyWinUSBInterfaceHandle, request, reply)) return false;
    *deviceID = Little32(reply, 1);
    *deviceNumStart = Little32(reply, 5);
    *deviceTimeAtConnect = Little32(reply, 9);
    return true;
}

std::int32_t SetMainValueInternal(Handle MyWinUSBInterfaceHandle, Handle, std::int32_t value, std::int32_t write,
                                  std::int32_t* protectState) {
    Packet request = Request(SetMainValueCommand), reply;
    auto bits = static_cast<std::uint32_t>(value);
    request[1] = static_cast<std::uint8_t>(bits >> 24);
    request[2] = static_cast<std::uint8_t>(bits >> 16);
    request[3] = static_cast<std::uint8_t>(bits >> 8);
    request[4] = static_cast<std::uint8_t>(bits);
    request[6] = write != 0 ? 0x01 : 0x00;
    if (!Ask(MyWinUSBInterfaceHandle, request, reply)) return 0;
    *protectState = reply[5];
    return 1;
}

std::int32_t GetWriteValueInternal(Handle MyWinUSBInterfaceHandle, Handle, std::int32_t* value, std::int32_t* set,
                                   std::int32_t* protectState) {
    Packet request = Request(WriteValueCommand), reply;
    if (!Ask(MyWinUSBInterfaceHandle, request, reply)) return 0;
    *value = Little32(reply, 1);
    *protectState = reply[5];
    *set = reply[6];
    return 1;
}

std::int32_t GetTemperatureInternal(Handle MyWinUSBInterfaceHandle, Handle, std::int32_t* tmp1, std::int32_t* tmp2,
                                    std::int32_t* tmp3) {
    Packet request = Request(StatusCommand), reply;
    if (!Ask(MyWinUSBInterfaceHandle, request, reply)) return 0;
    *tmp1 = Little16(reply, 1);
    *tmp2 = Little16(reply, 3);
    *tmp3 = Little16(reply, 5);
    return 1;
}

std::int32_t GetExternalInputInternal(Handle MyWinUSBInterfaceHandle, Handle, std::int32_t* input) {
    Packet request = Request(StatusCommand), reply;
    if (!Ask(MyWinUSBInterfaceHandle, request, reply)) return 0;
    *input = reply[7] == 0x01 ? 1 : 0;
    return 1;
}

std::int32_t DeviceMenu(Handle MyWinUSBInterfaceHandle, Handle, std::int32_t mode) {
    Packet request = Request(MenuCommand), reply;
    request[1] = static_cast<std::uint8_t>(mode);
    return Ask(MyWinUSBInterfaceHandle, request, reply) ? 1 : 0;
}

std::int32_t SetDisplayInternal(Handle MyWinUSBInterfaceHandle, Handle, std::uint8_t contrast) {
    Packet request = Request(DisplayCommand), reply;
    request[1] = 0x01;
    request[2] = contrast;
    return Ask(MyWinUSBInterfaceHandle, request, reply) ? 1 : 0;
}

}  // namespace ZorekInterface
