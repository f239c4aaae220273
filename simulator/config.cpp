#include "simulator/config.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <map>
#include <nlohmann/json.hpp>
#include <utility>

namespace ZorekSimConfig {
namespace {

using nlohmann::json;
using ZorekSim::Fault;
using ZorekSim::Reply;

// A value that cannot be taken, thrown from deep inside the reading and
// turned into an Error by Parse.
struct Bad {
    std::string key;
    std::string message;
};

[[noreturn]] void Fail(const std::string& key, std::string message) { throw Bad{key, std::move(message)}; }

std::string Member(const std::string& key, std::string_view name) {
    return key.empty() ? std::string(name) : key + "." + std::string(name);
}

std::string Element(const std::string& key, std::size_t index) { return key + "[" + std::to_string(index) + "]"; }

// How a value looks in a message: strings quoted, numbers as written.
std::string Shown(const json& value) {
    if (value.is_string()) return "\"" + value.get_ref<const std::string&>() + "\"";
    if (value.is_structured()) return std::string("an ") + value.type_name();
    return value.dump();
}

std::string Joined(std::initializer_list<std::string_view> names) {
    std::string list;
    for (auto name : names) list += (list.empty() ? "" : ", ") + std::string(name);
    return list;
}

// v must be an object whose keys are all among known.
void ExpectObject(const json& v, const std::string& key, std::initializer_list<std::string_view> known) {
    if (!v.is_object()) Fail(key, "must be an object, not " + Shown(v));
    for (const auto& item : v.items())
        if (std::find(known.begin(), known.end(), item.key()) == known.end())
            Fail(Member(key, item.key()), "unknown key (known here: " + Joined(known) + ")");
}

const json* Find(const json& object, std::string_view name) {
    auto it = object.find(name);
    return it == object.end() ? nullptr : &*it;
}

[[noreturn]] void OutOfRange(const std::string& key, const std::string& shown, std::int64_t min, std::int64_t max) {
    Fail(key, shown + " is out of range (" + std::to_string(min) + " to " + std::to_string(max) + ")");
}

// "0x1F" as a number; false when text is no hex literal. Sets tooLarge for
// one beyond 64 bits.
bool HexLiteral(const std::string& text, std::uint64_t& value, bool& tooLarge) {
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data() + 2, end, value, 16);
    if (stop != end) return false;
    tooLarge = error == std::errc::result_out_of_range;
    return error == std::errc{} || tooLarge;
}

// A whole number from min to max, written as a JSON integer or a hex string.
std::int64_t Integer(const json& v, const std::string& key, std::int64_t min, std::int64_t max) {
    if (v.is_number_unsigned()) {
        auto value = v.get<std::uint64_t>();
        if (value > static_cast<std::uint64_t>(max) || static_cast<std::int64_t>(value) < min)
            OutOfRange(key, v.dump(), min, max);
        return static_cast<std::int64_t>(value);
    }
    if (v.is_number_integer()) {
        auto value = v.get<std::int64_t>();
        if (value < min || value > max) OutOfRange(key, v.dump(), min, max);
        return value;
    }
    if (v.is_string()) {
        const auto& text = v.get_ref<const std::string&>();
        std::uint64_t value = 0;
        bool tooLarge = false;
        if (!HexLiteral(text, value, tooLarge))
            Fail(key, "must be a whole number or a hex string such as \"0x1F\", not " + Shown(v));
        if (tooLarge || value > static_cast<std::uint64_t>(max) || static_cast<std::int64_t>(value) < min)
            OutOfRange(key, text, min, max);
        return static_cast<std::int64_t>(value);
    }
    Fail(key, "must be a whole number, not " + Shown(v));
}

std::uint8_t Byte(const json& v, const std::string& key) { return static_cast<std::uint8_t>(Integer(v, key, 0, 255)); }

// A 32-bit field: a signed or an unsigned 32-bit number, kept as its bit pattern.
std::uint32_t Word(const json& v, const std::string& key) {
    return static_cast<std::uint32_t>(Integer(v, key, INT32_MIN, UINT32_MAX));
}

bool Boolean(const json& v, const std::string& key) {
    if (!v.is_boolean()) Fail(key, "must be true or false, not " + Shown(v));
    return v.get<bool>();
}

const std::string& Text(const json& v, const std::string& key) {
    if (!v.is_string()) Fail(key, "must be a string, not " + Shown(v));
    return v.get_ref<const std::string&>();
}

const json& Array(const json& v, const std::string& key) {
    if (!v.is_array()) Fail(key, "must be an array, not " + Shown(v));
    return v;
}

// One of the names, as its index.
std::size_t Choice(const json& v, const std::string& key, std::initializer_list<std::string_view> names) {
    const auto& text = Text(v, key);
    auto it = std::find(names.begin(), names.end(), text);
    if (it == names.end()) Fail(key, "\"" + text + "\" is none of " + Joined(names));
    return static_cast<std::size_t>(it - names.begin());
}

constexpr std::pair<std::string_view, std::uint8_t> CommandNames[] = {
    {"info", ZorekInstrument::DeviceInfoCommand},
    {"param", ZorekInstrument::DeviceParamCommand},
    {"set-main-value", ZorekInstrument::SetMainValueCommand},
    {"write-value", ZorekInstrument::WriteValueCommand},
    {"status", ZorekInstrument::StatusCommand},
    {"menu", ZorekInstrument::MenuCommand},
    {"display", ZorekInstrument::DisplayCommand},
};

// A command byte by its name, in hex ("0xD6") or in decimal ("214").
std::uint8_t Command(const std::string& text, const std::string& key) {
    for (const auto& [name, command] : CommandNames)
        if (text == name) return command;
    std::uint64_t value = 0;
    bool tooLarge = false;
    bool number = HexLiteral(text, value, tooLarge);
    if (!number && !text.empty()) {
        const char* end = text.data() + text.size();
        auto [stop, error] = std::from_chars(text.data(), end, value);
        number = stop == end && (error == std::errc{} || error == std::errc::result_out_of_range);
        tooLarge = error == std::errc::result_out_of_range;
    }
    if (!number)
        Fail(key, "\"" + text +
                      "\" is no command (a name: info, param, set-main-value, write-value, status, menu, display; "
                      "or a byte such as \"0xD6\")");
    if (tooLarge || value > 255) OutOfRange(key, "command " + text, 0, 255);
    return static_cast<std::uint8_t>(value);
}

std::u16string HardwareId(const json& v, const std::string& key) {
    const auto& text = Text(v, key);
    std::u16string id;
    for (char c : text) {
        if (c < 0x20 || c > 0x7E) Fail(key, "may hold printable ASCII characters only");
        id.push_back(static_cast<char16_t>(c));
    }
    return id;
}

Reply ReadReply(const json& v, const std::string& key) {
    static constexpr Reply::Kind kinds[] = {Reply::Kind::Normal, Reply::Kind::Silent, Reply::Kind::Empty,
                                            Reply::Kind::Short,  Reply::Kind::Echo,   Reply::Kind::Bytes,
                                            Reply::Kind::Stall};
    const std::initializer_list<std::string_view> names = {"normal", "none",  "empty", "short",
                                                           "echo",   "bytes", "stall"};
    Reply reply;
    if (v.is_string()) {
        reply.kind = kinds[Choice(v, key, names)];
        if (reply.kind == Reply::Kind::Short) Fail(key, "\"short\" needs an object with its \"length\"");
        if (reply.kind == Reply::Kind::Bytes) Fail(key, "\"bytes\" needs an object with its \"bytes\"");
        return reply;
    }
    if (!v.is_object()) Fail(key, "must be a reply kind (a string) or an object, not " + Shown(v));
    ExpectObject(v, key, {"kind", "bytes", "length"});
    const json* kind = Find(v, "kind");
    if (kind == nullptr) Fail(Member(key, "kind"), "is missing");
    reply.kind = kinds[Choice(*kind, Member(key, "kind"), names)];
    const json* bytes = Find(v, "bytes");
    const json* length = Find(v, "length");
    if (reply.kind == Reply::Kind::Bytes) {
        if (bytes == nullptr) Fail(Member(key, "bytes"), "is missing");
        const auto& list = Array(*bytes, Member(key, "bytes"));
        if (list.size() > 64)
            Fail(Member(key, "bytes"), "holds " + std::to_string(list.size()) + " bytes; a reply has 64");
        for (std::size_t i = 0; i < list.size(); ++i)
            reply.bytes.push_back(Byte(list[i], Element(Member(key, "bytes"), i)));
    } else if (bytes != nullptr) {
        Fail(Member(key, "bytes"), "applies only to kind \"bytes\"");
    }
    if (reply.kind == Reply::Kind::Short) {
        if (length == nullptr) Fail(Member(key, "length"), "is missing");
        reply.length = static_cast<std::uint32_t>(Integer(*length, Member(key, "length"), 0, 64));
    } else if (length != nullptr) {
        Fail(Member(key, "length"), "applies only to kind \"short\"");
    }
    return reply;
}

Fault ReadFault(const json& v, const std::string& key) {
    ExpectObject(v, key, {"kind", "error", "pipe", "command", "occurrence"});
    const json* kind = Find(v, "kind");
    if (kind == nullptr) Fail(Member(key, "kind"), "is missing");
    const std::string kindKey = Member(key, "kind");
    const std::size_t choice = Choice(*kind, kindKey, {"open-error", "init-failure", "access-violation"});
    const auto& kindName = kind->get_ref<const std::string&>();
    auto notHere = [&](std::string_view name) {
        if (Find(v, name) != nullptr) Fail(Member(key, name), "does not apply to kind \"" + kindName + "\"");
    };

    Fault fault;
    fault.occurrence = 0;
    if (const json* occurrence = Find(v, "occurrence"))
        fault.occurrence = static_cast<int>(Integer(*occurrence, Member(key, "occurrence"), 0, 1000000));
    if (choice == 0 || choice == 1) {
        notHere("pipe");
        notHere("command");
        fault.call = choice == 0 ? ZorekSim::Call::CreateFile : ZorekSim::Call::WinUsbInitialize;
        fault.error = choice == 0 ? ZorekPlatform::ErrorAccessDenied : ZorekPlatform::ErrorGenFailure;
        if (const json* error = Find(v, "error"))
            fault.error = static_cast<std::uint32_t>(Integer(*error, Member(key, "error"), 1, UINT32_MAX));
    } else {
        notHere("error");
        fault.kind = Fault::Kind::AccessViolation;
        fault.call = ZorekSim::Call::WinUsbReadPipe;
        if (const json* pipe = Find(v, "pipe"))
            fault.call = Choice(*pipe, Member(key, "pipe"), {"read", "write"}) == 0 ? ZorekSim::Call::WinUsbReadPipe
                                                                                    : ZorekSim::Call::WinUsbWritePipe;
        if (const json* command = Find(v, "command")) {
            if (command->is_string())
                fault.command = Command(command->get_ref<const std::string&>(), Member(key, "command"));
            else
                fault.command = Byte(*command, Member(key, "command"));
        }
    }
    return fault;
}

void ReadIdentification(const json& v, const std::string& key, ZorekInstrument::State& state) {
    ExpectObject(v, key,
                 {"deviceCode", "firmwareVersion", "nameCode", "byte5", "typeCode", "deviceId", "deviceNumStart",
                  "deviceTimeAtConnect"});
    for (const auto& item : v.items()) {
        const std::string& name = item.key();
        const std::string at = Member(key, name);
        const json& value = item.value();
        if (name == "deviceCode") state.deviceCode = Byte(value, at);
        if (name == "firmwareVersion") state.firmwareVersion = static_cast<std::uint16_t>(Integer(value, at, 0, 65535));
        if (name == "nameCode") state.nameCode = Byte(value, at);
        if (name == "byte5") state.byte5 = Byte(value, at);
        if (name == "typeCode") state.typeCode = Byte(value, at);
        if (name == "deviceId") state.deviceId = Word(value, at);
        if (name == "deviceNumStart") state.deviceNumStart = Word(value, at);
        if (name == "deviceTimeAtConnect") state.deviceTimeAtConnect = Word(value, at);
    }
}

void ReadState(const json& v, const std::string& key, ZorekInstrument::State& state) {
    ExpectObject(v, key,
                 {"mainValue", "protectState", "setFlag", "temperatures", "externalInput", "powerMode", "displaySelect",
                  "contrast"});
    for (const auto& item : v.items()) {
        const std::string& name = item.key();
        const std::string at = Member(key, name);
        const json& value = item.value();
        if (name == "mainValue") state.mainValue = static_cast<std::int32_t>(Word(value, at));
        if (name == "protectState") state.protectState = Byte(value, at);
        if (name == "setFlag") state.setFlag = Byte(value, at);
        if (name == "externalInput") state.externalInput = Byte(value, at);
        if (name == "powerMode") state.powerMode = Byte(value, at);
        if (name == "displaySelect") state.displaySelect = Byte(value, at);
        if (name == "contrast") state.contrast = Byte(value, at);
        if (name == "temperatures") {
            const auto& list = Array(value, at);
            if (list.size() != 3) Fail(at, "must hold exactly 3 readings, not " + std::to_string(list.size()));
            for (std::size_t i = 0; i < 3; ++i)
                state.temperatures[i] = static_cast<std::uint16_t>(Integer(list[i], Element(at, i), 0, 65535));
        }
    }
}

DeviceConfig ReadDevice(const json& v, const std::string& key) {
    ExpectObject(v, key,
                 {"hardwareIds", "present", "identification", "state", "drift", "latencyMs", "replies", "faults"});
    DeviceConfig config;
    ZorekSim::Device& device = config.device;
    if (const json* ids = Find(v, "hardwareIds")) {
        const std::string at = Member(key, "hardwareIds");
        device.hardwareIds.clear();
        for (std::size_t i = 0; i < Array(*ids, at).size(); ++i)
            device.hardwareIds.push_back(HardwareId((*ids)[i], Element(at, i)));
    }
    if (const json* present = Find(v, "present")) device.present = Boolean(*present, Member(key, "present"));
    if (const json* identification = Find(v, "identification"))
        ReadIdentification(*identification, Member(key, "identification"), device.state);
    if (const json* state = Find(v, "state")) ReadState(*state, Member(key, "state"), device.state);
    if (const json* drift = Find(v, "drift"))
        config.drift = static_cast<std::uint16_t>(Integer(*drift, Member(key, "drift"), 0, 10000));
    if (const json* latency = Find(v, "latencyMs")) {
        const std::string at = Member(key, "latencyMs");
        if (!latency->is_number()) Fail(at, "must be a number of milliseconds, not " + Shown(*latency));
        double ms = latency->get<double>();
        if (!(ms >= 0 && ms <= 10000)) Fail(at, latency->dump() + " is out of range (0 to 10000)");
        device.latency = std::chrono::microseconds(std::llround(ms * 1000));
    }
    if (const json* replies = Find(v, "replies")) {
        const std::string at = Member(key, "replies");
        if (!replies->is_object()) Fail(at, "must be an object of commands, not " + Shown(*replies));
        std::map<std::uint8_t, std::string> seen;
        for (const auto& item : replies->items()) {
            const std::string itemKey = Member(at, item.key());
            const std::uint8_t command = Command(item.key(), itemKey);
            if (auto [earlier, fresh] = seen.emplace(command, item.key()); !fresh)
                Fail(itemKey, "names the same command as \"" + earlier->second + "\"");
            device.replies[command] = ReadReply(item.value(), itemKey);
        }
    }
    if (const json* faults = Find(v, "faults")) {
        const std::string at = Member(key, "faults");
        for (std::size_t i = 0; i < Array(*faults, at).size(); ++i)
            config.faults.push_back(ReadFault((*faults)[i], Element(at, i)));
    }
    return config;
}

Config ReadConfig(const json& root) {
    ExpectObject(root, "", {"devices"});
    const json* devices = Find(root, "devices");
    if (devices == nullptr) Fail("devices", "is missing");
    const auto& list = Array(*devices, "devices");
    if (list.size() > MaxDevices)
        Fail("devices", "lists " + std::to_string(list.size()) + " devices; at most " + std::to_string(MaxDevices));
    Config config;
    for (std::size_t i = 0; i < list.size(); ++i) config.devices.push_back(ReadDevice(list[i], Element("devices", i)));
    return config;
}

// nlohmann's message without its "[json.exception.parse_error.101] " tag.
std::string Untagged(const char* what) {
    std::string text = what;
    if (!text.empty() && text[0] == '[') {
        auto end = text.find("] ");
        if (end != std::string::npos) text.erase(0, end + 2);
    }
    return text;
}

}  // namespace

Result Parse(std::string_view text) {
    try {
        const json root = json::parse(text.begin(), text.end(), nullptr, true, true);
        return ReadConfig(root);
    } catch (const Bad& bad) {
        return Error{bad.key, bad.message};
    } catch (const json::parse_error& error) {
        return Error{"", "invalid JSON: " + Untagged(error.what())};
    } catch (const std::exception& error) {
        return Error{"", std::string("cannot be read: ") + Untagged(error.what())};
    } catch (...) {
        return Error{"", "cannot be read"};
    }
}

Result Load(const std::filesystem::path& file) {
    try {
        std::error_code ignored;
        if (std::filesystem::is_directory(file, ignored)) return Error{"", "is a directory, not a file"};
        std::ifstream in(file, std::ios::binary);
        if (!in) return Error{"", std::string("cannot be opened: ") + std::strerror(errno)};
        std::string text(MaxFileSize + 1, '\0');
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        if (in.bad()) return Error{"", "cannot be read"};
        text.resize(static_cast<std::size_t>(in.gcount()));
        if (text.size() > MaxFileSize) return Error{"", "is larger than " + std::to_string(MaxFileSize) + " bytes"};
        return Parse(text);
    } catch (const std::exception& error) {
        return Error{"", std::string("cannot be read: ") + error.what()};
    }
}

std::string Describe(const std::filesystem::path& file, const Error& error) {
    return file.string() + ": " + (error.key.empty() ? "" : error.key + ": ") + error.message;
}

}  // namespace ZorekSimConfig
