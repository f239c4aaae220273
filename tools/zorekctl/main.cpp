// zorekctl: a command-line host of the zorek library. It loads the library at
// run time by path, as any host does, and makes one call per subcommand.
#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <thread>

#include "tools/zorekctl/library.h"
#include "tools/zorekctl/number.h"
#include "tools/zorekctl/report.h"
#include "tools/zorekctl/seam.h"

namespace ZorekCtl {
namespace {

// Exit codes.
constexpr int Success = 0;
constexpr int DeviceFailure = 1;
constexpr int UsageFailure = 2;
constexpr int LoadFailure = 3;
constexpr int InternalFailure = 4;

constexpr int ListLimit = 1024;  // indices that list tries at most

struct Options {
    std::string library;
    std::optional<std::string> sim;
    std::int32_t index = 0;
    bool json = false;
    std::int32_t mode = 0;
    std::int32_t contrast = 0;
    std::int32_t value = 0;
    bool write = false;
    double interval = 1.0;
    std::int64_t count = 0;
    bool csv = false;
};

int Show(const Outcome& outcome, const Options& options) {
    if (options.json)
        std::cout << ToJson(outcome).dump() << "\n";
    else
        PrintText(std::cout, outcome);
    return outcome.result == 1 ? Success : DeviceFailure;
}

// What a failure with status 0 means: no connection stage reported one.
constexpr const char* InitialisationFailed = "WinUSB initialisation failed (it has no status code of its own)";
constexpr const char* RequestFailed = "WinUSB initialisation failed, or the device gave no valid reply to the request";

std::string NoteFor(std::int32_t result, std::int32_t status, const char* why) {
    return result == 1 || status != 0 ? std::string() : std::string(why);
}

int Version(const Functions& f, const Options& options) {
    std::int32_t version = f.GetInterfaceVersion();
    if (options.json)
        std::cout << nlohmann::ordered_json{{"function", "GetInterfaceVersion"}, {"version", version}}.dump() << "\n";
    else
        std::cout << "GetInterfaceVersion()\n  version: " << version << "\n";
    return Success;
}

Outcome Identify(const Functions& f, std::int32_t index) {
    std::int32_t flag = -1, id = 0;
    std::int32_t result = f.GetDeviceID(index, &flag, &id);
    return {"GetDeviceID", {{"USBID", index}},       result,
            flag,          {{"deviceID", id, true}}, NoteFor(result, flag, InitialisationFailed)};
}

int Id(const Functions& f, const Options& options) { return Show(Identify(f, options.index), options); }

int Temperature(const Functions& f, const Options& options) {
    std::int32_t flag = -1, t1 = 0, t2 = 0, t3 = 0;
    std::int32_t result = f.GetTemperature(options.index, &flag, &t1, &t2, &t3);
    return Show({"GetTemperature",
                 {{"USBID", options.index}},
                 result,
                 flag,
                 {{"tmp1", t1}, {"tmp2", t2}, {"tmp3", t3}},
                 NoteFor(result, flag, RequestFailed)},
                options);
}

int WriteValue(const Functions& f, const Options& options) {
    std::int32_t flag = -1, value = 0, set = 0, protectState = 0;
    std::int32_t result = f.GetWriteValue(options.index, &flag, &value, &set, &protectState);
    return Show({"GetWriteValue",
                 {{"USBID", options.index}},
                 result,
                 flag,
                 {{"value", value, true}, {"set", set}, {"protectState", protectState}},
                 NoteFor(result, flag, RequestFailed)},
                options);
}

int Input(const Functions& f, const Options& options) {
    std::int32_t flag = -1, input = 0;
    std::int32_t result = f.GetExternalInput(options.index, &flag, &input);
    return Show({"GetExternalInput",
                 {{"USBID", options.index}},
                 result,
                 flag,
                 {{"input", input}},
                 NoteFor(result, flag, RequestFailed)},
                options);
}

int Power(const Functions& f, const Options& options) {
    std::int32_t flag = -1;
    std::int32_t result = f.DevicePWR(options.index, &flag, options.mode);
    return Show({"DevicePWR",
                 {{"USBID", options.index}, {"mode", options.mode}},
                 result,
                 flag,
                 {},
                 NoteFor(result, flag, options.mode > 2 ? "DevicePWR refuses modes above 2" : RequestFailed)},
                options);
}

int Display(const Functions& f, const Options& options) {
    std::int32_t flag = -1;
    std::int32_t result = f.SetDisplay(options.index, &flag, options.contrast);
    std::string note = NoteFor(result, flag,
                               "SetDisplay is refused on firmware 262 and older; or WinUSB initialisation failed, or "
                               "the device gave no valid reply to the request");
    if (options.contrast < 0 || options.contrast > 255)
        note += (note.empty() ? "" : "; ") + std::string("only the low byte of the contrast, ") +
                std::to_string(options.contrast & 0xFF) + ", is sent";
    return Show({"SetDisplay", {{"USBID", options.index}, {"contrast", options.contrast}}, result, flag, {}, note},
                options);
}

int Set(const Functions& f, const Options& options) {
    std::int32_t flag = -1, protectState = 0;
    std::int32_t write = options.write ? 1 : 0;
    std::int32_t result = f.SetMainValue(options.index, &flag, options.value, write, &protectState);
    return Show({"SetMainValue",
                 {{"USBID", options.index}, {"value", options.value}, {"write", write}},
                 result,
                 flag,
                 {{"protectState", protectState}},
                 NoteFor(result, flag, RequestFailed)},
                options);
}

// Index 0, 1, ... until status 1 says there is no device.
int List(const Functions& f, const Options& options) {
    nlohmann::ordered_json devices = nlohmann::ordered_json::array();
    bool allIdentified = true;
    std::int32_t index = 0;
    for (; index < ListLimit; ++index) {
        Outcome outcome = Identify(f, index);
        if (outcome.result != 1 && outcome.status == ZOREK_STATUS_NO_DEVICE) break;
        allIdentified = allIdentified && outcome.result == 1;
        if (options.json) {
            auto entry = ToJson(outcome);
            entry.erase("function");
            devices.push_back(entry);
        } else if (outcome.result == 1) {
            std::cout << "index " << index << ": deviceID " << WithHex(outcome.outputs[0].value) << "\n";
        } else {
            std::cout << "index " << index << ": GetDeviceID failed, status " << outcome.status << " ("
                      << StatusMeaning(outcome.status) << ")" << (outcome.note.empty() ? "" : ": " + outcome.note)
                      << "\n";
        }
    }
    const bool ended = index < ListLimit;
    if (options.json) {
        nlohmann::ordered_json json = {{"function", "GetDeviceID"}, {"devices", devices}};
        if (ended) json["end"] = {{"USBID", index}, {"status", 1}, {"statusText", StatusMeaning(1)}};
        std::cout << json.dump() << "\n";
    } else if (ended) {
        std::cout << (index == 0 ? "no device: " : "") << "index " << index << ": status 1 (" << StatusMeaning(1)
                  << "), end of list\n";
    } else {
        std::cout << "stopped after " << ListLimit << " indices without status 1\n";
    }
    return allIdentified && ended ? Success : DeviceFailure;
}

// "2024-05-01T12:00:00.123Z"
std::string UtcNow() {
    using namespace std::chrono;
    auto now = time_point_cast<milliseconds>(system_clock::now());
    auto day = floor<days>(now);
    year_month_day date{day};
    hh_mm_ss time{now - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    return text;
}

// Waits until the deadline; false when interrupted first.
bool WaitUntil(std::chrono::steady_clock::time_point deadline) {
    using namespace std::chrono;
    while (!Seam::Interrupted()) {
        auto left = deadline - steady_clock::now();
        if (left <= steady_clock::duration::zero()) return true;
        std::this_thread::sleep_for(std::min<steady_clock::duration>(left, milliseconds(50)));
    }
    return false;
}

// The three temperatures every interval, one line each.
int Watch(const Functions& f, const Options& options) {
    Seam::CatchInterrupt();
    if (options.csv)
        std::cout << "time,tmp1,tmp2,tmp3,result,status\n";
    else if (!options.json)
        std::printf("%-24s %6s %6s %6s  %s\n", "time", "tmp1", "tmp2", "tmp3", "status");
    std::cout << std::flush;

    const auto start = std::chrono::steady_clock::now();
    const auto interval = std::chrono::duration<double>(options.interval);
    bool allRead = true;
    for (std::int64_t line = 0; options.count == 0 || line < options.count; ++line) {
        if (line > 0 && !WaitUntil(start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                               interval * static_cast<double>(line))))
            break;
        if (Seam::Interrupted()) break;
        std::int32_t flag = -1, t1 = 0, t2 = 0, t3 = 0;
        std::int32_t result = f.GetTemperature(options.index, &flag, &t1, &t2, &t3);
        allRead = allRead && result == 1;
        std::string time = UtcNow();
        if (options.json) {
            Outcome outcome{"GetTemperature",
                            {{"USBID", options.index}},
                            result,
                            flag,
                            {{"tmp1", t1}, {"tmp2", t2}, {"tmp3", t3}},
                            NoteFor(result, flag, RequestFailed)};
            auto json = ToJson(outcome);
            json["time"] = time;
            std::cout << json.dump() << "\n";
        } else if (options.csv) {
            std::cout << time << ",";
            if (result == 1)
                std::cout << t1 << "," << t2 << "," << t3;
            else
                std::cout << ",,";
            std::cout << "," << result << "," << flag << "\n";
        } else if (result == 1) {
            std::printf("%-24s %6d %6d %6d  %d (%s)\n", time.c_str(), t1, t2, t3, flag, StatusMeaning(flag).c_str());
        } else {
            std::printf("%-24s %6s %6s %6s  %d (%s), GetTemperature failed\n", time.c_str(), "-", "-", "-", flag,
                        StatusMeaning(flag).c_str());
        }
        std::cout << std::flush;
    }
    return allRead ? Success : DeviceFailure;
}

std::string UsageOf(const CLI::App& app, const std::string& name) {
    auto formatter = std::dynamic_pointer_cast<CLI::Formatter>(app.get_formatter());
    return formatter ? formatter->make_usage(&app, name) : std::string();
}

int UsageError(const CLI::App& app, const std::string& message) {
    std::cerr << "zorekctl: " << message << "\n";
    const CLI::App* shown = &app;
    std::string name = "zorekctl";
    auto selected = app.get_subcommands();
    if (!selected.empty()) {
        shown = selected.front();
        name += " " + shown->get_name();
    }
    std::cerr << UsageOf(*shown, name) << "Run 'zorekctl --help' for more.\n";
    return UsageFailure;
}

int Run(int argc, char** argv) {
    CLI::App app{"Controls and reads the zorek instrument through the zorek library, which it loads at run time.",
                 "zorekctl"};
    app.footer(
        "Device subcommands call the function of that name on the device at --index and show its result and\n"
        "status code. Exit codes: 0 success; 1 the library reported a failure; 2 usage error; 3 the library\n"
        "could not be loaded or lacks a function.");
    app.require_subcommand(1);
    app.fallthrough();
    Options options;

    auto* library =
        app.add_option("--library", options.library,
                       std::string("Load this library instead of ") + Seam::RealLibraryFile + " beside zorekctl");
    library->type_name("PATH");
    auto* sim = app.add_option("--sim", options.sim,
                               std::string("Load the simulated instrument ") + Seam::SimLibraryFile +
                                   " beside zorekctl; CONFIG, a JSON file of devices, goes to it in ZOREK_SIM_CONFIG");
    sim->expected(0, 1)->type_name("[CONFIG]")->excludes(library);
    app.add_option("--index", options.index, "Device index USBID (default 0)")
        ->transform(Int32Argument())
        ->type_name("N");
    app.add_flag("--json", options.json, "Machine-readable output: one JSON object per line");

    auto* version = app.add_subcommand("version", "GetInterfaceVersion: the interface version of the library");
    auto* id = app.add_subcommand("id", "GetDeviceID: the device identifier");
    auto* temperature = app.add_subcommand("temperature", "GetTemperature: the three temperature readings");
    auto* writeValue =
        app.add_subcommand("write-value", "GetWriteValue: the write value with its set flag and protection state");
    auto* input = app.add_subcommand("input", "GetExternalInput: the external input");
    auto* power = app.add_subcommand("power", "DevicePWR: select power mode MODE (modes above 2 are refused)");
    power->add_option("MODE", options.mode, "Power mode")->required()->transform(Int32Argument());
    auto* display = app.add_subcommand("display", "SetDisplay: set the display contrast (its low byte is sent)");
    display->add_option("CONTRAST", options.contrast, "Display contrast")->required()->transform(Int32Argument());
    auto* set = app.add_subcommand("set", "SetMainValue: send the main value VALUE");
    set->add_option("VALUE", options.value, "Main value")->required()->transform(Int32Argument());
    set->add_flag("--write", options.write, "Send the write flag as 1");
    auto* list = app.add_subcommand("list", "GetDeviceID at index 0, 1, ... until no device is found");
    auto* watch = app.add_subcommand("watch", "GetTemperature every --interval seconds, one line each, until Ctrl-C");
    watch->add_option("--interval", options.interval, "Seconds between readings (default 1)")
        ->check(CLI::Range(0.01, 86400.0))
        ->type_name("SECONDS");
    watch->add_option("--count", options.count, "Stop after this many lines (default 0: until Ctrl-C)")
        ->check(CLI::Range(std::int64_t{0}, std::int64_t{1000000000}))
        ->type_name("N");
    watch->add_flag("--csv", options.csv, "Comma-separated values with a header line");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::RequiredError& e) {
        if (app.get_subcommands().empty() && !app.remaining().empty())
            return UsageError(app, "unknown subcommand '" + app.remaining().front() + "'");
        return UsageError(app, e.what());
    } catch (const CLI::ParseError& e) {
        return UsageError(app, e.what());
    }
    if (options.csv && options.json) return UsageError(app, "--csv and --json exclude each other");

    std::filesystem::path path;
    std::string hint;
    if (sim->count() > 0) {
        path = Seam::ExecutableDirectory() / Seam::SimLibraryFile;
        hint = "--sim loads the simulated instrument from beside zorekctl";
        if (options.sim && !options.sim->empty() && !Seam::SetEnvironment("ZOREK_SIM_CONFIG", *options.sim)) {
            std::cerr << "zorekctl: cannot set ZOREK_SIM_CONFIG\n";
            return LoadFailure;
        }
    } else if (library->count() > 0) {
        path = std::filesystem::absolute(options.library);
    } else {
        path = Seam::ExecutableDirectory() / Seam::RealLibraryFile;
        hint =
            "that is the default, the library beside zorekctl; use --library PATH for another, or --sim for "
            "the simulated instrument";
    }

    try {
        Library loaded(path);
        const Functions& f = *loaded;
        if (*version) return Version(f, options);
        if (*id) return Id(f, options);
        if (*temperature) return Temperature(f, options);
        if (*writeValue) return WriteValue(f, options);
        if (*input) return Input(f, options);
        if (*power) return Power(f, options);
        if (*display) return Display(f, options);
        if (*set) return Set(f, options);
        if (*list) return List(f, options);
        if (*watch) return Watch(f, options);
        return UsageError(app, "no subcommand");
    } catch (const LoadError& e) {
        std::cerr << "zorekctl: " << e.what() << "\n";
        if (!hint.empty()) std::cerr << "zorekctl: " << hint << "\n";
        return LoadFailure;
    }
}

}  // namespace
}  // namespace ZorekCtl

int main(int argc, char** argv) {
    try {
        return ZorekCtl::Run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "zorekctl: " << e.what() << "\n";
        return ZorekCtl::InternalFailure;
    }
}
