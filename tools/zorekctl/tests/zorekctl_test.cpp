// zorekctl end to end: the tool run as a child process against zorek-sim with
// configuration files, its output read back.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "process.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const fs::path Tool = ZOREKCTL;
const fs::path SimLibrary = ZOREK_SIM_LIBRARY;
const fs::path PartialLibrary = ZOREKCTL_PARTIAL_LIBRARY;
const fs::path Examples = ZOREK_EXAMPLES_DIR;

// A device whose every value is known.
constexpr const char* KnownDevice = R"({"devices": [{
    "identification": {"deviceId": 4660, "firmwareVersion": 263},
    "state": {"mainValue": -5, "protectState": 7, "setFlag": 1, "temperatures": [100, 200, 65535],
              "externalInput": 1}
}]})";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class Zorekctl : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zorekctl-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        scratch = pattern;
    }
    void TearDown() override { fs::remove_all(scratch); }

    fs::path Write(const std::string& name, const std::string& content) const {
        fs::path file = scratch / name;
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }

    Ran Run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {},
            const fs::path& program = Tool, const std::optional<fs::path>& dir = std::nullopt) const {
        Process process(program, args, scratch, env, dir);
        int exit = process.Wait();
        return {exit, process.Out(), process.Err()};
    }

    // Runs with --json and parses the one line of output.
    json Json(const std::vector<std::string>& args, int expectedExit = 0) const {
        std::vector<std::string> all = {"--json"};
        all.insert(all.end(), args.begin(), args.end());
        Ran ran = Run(all);
        EXPECT_EQ(ran.exit, expectedExit) << ran.out << ran.err;
        auto lines = Lines(ran.out);
        EXPECT_EQ(lines.size(), 1u) << ran.out;
        return lines.empty() ? json() : json::parse(lines[0]);
    }

    fs::path scratch;
};

TEST_F(Zorekctl, BuiltinInstrumentShowsItsIdentityAndTemperatures) {
    Ran version = Run({"--sim", "version"});
    EXPECT_EQ(version.exit, 0);
    EXPECT_EQ(version.out, "GetInterfaceVersion()\n  version: 258\n");

    Ran id = Run({"--sim", "id"});
    EXPECT_EQ(id.exit, 0) << id.err;
    EXPECT_EQ(id.out,
              "GetDeviceID(USBID 0)\n"
              "  deviceID: 74565 (0x00012345)\n"
              "  result:   1 (success)\n"
              "  status:   0 (no connection stage failed)\n");
    EXPECT_EQ(id.err, "");

    json t = Json({"--sim", "temperature"});
    for (const char* name : {"tmp1", "tmp2", "tmp3"}) {
        EXPECT_GE(t[name].get<int>(), 2000) << name;
        EXPECT_LE(t[name].get<int>(), 2500) << name;
    }
}

struct JsonCase {
    std::vector<std::string> args;
    json expected;  // fields that the output must hold, with these values
};

TEST_F(Zorekctl, EverySubcommandAsJson) {
    const std::string config = Write("known.json", KnownDevice).string();
    const JsonCase cases[] = {
        {{"version"}, {{"function", "GetInterfaceVersion"}, {"version", 258}}},
        {{"id"}, {{"function", "GetDeviceID"}, {"USBID", 0}, {"deviceID", 4660}}},
        {{"temperature"}, {{"function", "GetTemperature"}, {"tmp1", 100}, {"tmp2", 200}, {"tmp3", 65535}}},
        {{"write-value"}, {{"function", "GetWriteValue"}, {"value", -5}, {"set", 1}, {"protectState", 7}}},
        {{"input"}, {{"function", "GetExternalInput"}, {"input", 1}}},
        {{"power", "2"}, {{"function", "DevicePWR"}, {"mode", 2}}},
        {{"power", "0xFFFFFFFF"}, {{"function", "DevicePWR"}, {"mode", -1}}},
        {{"display", "40"}, {{"function", "SetDisplay"}, {"contrast", 40}}},
        {{"display", "300"}, {{"contrast", 300}, {"note", "only the low byte of the contrast, 44, is sent"}}},
        {{"set", "1234", "--write"},
         {{"function", "SetMainValue"}, {"value", 1234}, {"write", 1}, {"protectState", 7}}},
        {{"set", "4294967295"}, {{"function", "SetMainValue"}, {"value", -1}, {"write", 0}}},
        {{"--index", "0x0", "id"}, {{"USBID", 0}, {"deviceID", 4660}}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--sim", config};
        args.insert(args.end(), c.args.begin(), c.args.end());
        json out = Json(args);
        SCOPED_TRACE(out.dump());
        for (const auto& [key, value] : c.expected.items()) EXPECT_EQ(out[key], value) << key;
        if (c.args[0] != "version") {
            EXPECT_EQ(out["result"], 1);
            EXPECT_EQ(out["success"], true);
            EXPECT_EQ(out["status"], 0);
            EXPECT_EQ(out["statusText"], "no connection stage failed");
        }
    }
}

TEST_F(Zorekctl, OptionsMayFollowTheSubcommand) {
    const std::string config = Write("known.json", KnownDevice).string();
    json out = Json({"id", "--sim", config, "--index", "0"});
    EXPECT_EQ(out["deviceID"], 4660);
}

struct FailureCase {
    std::string config;  // an example file
    std::vector<std::string> args;
    int status;
    std::string text;  // a part of the text output
};

TEST_F(Zorekctl, FailuresExitWithOneAndShowTheStatusInWords) {
    const FailureCase cases[] = {
        {"builtin.json", {"--index", "1", "id"}, 1, "status: 1 (no device at this index)"},
        {"builtin.json", {"--index", "-1", "temperature"}, 1, "GetTemperature(USBID -1)"},
        {"faults.json",
         {"--index", "1", "id"},
         8,
         "status: 8 (not this instrument (foreign hardware ID), or the open failed and so did identification)\n"},
        {"faults.json",
         {"--index", "2", "id"},
         0,
         "note:   WinUSB initialisation failed (it has no status code of its own)\n"},
        {"faults.json",
         {"--index", "2", "input"},
         0,
         "note:   WinUSB initialisation failed, or the device gave no valid reply to the request\n"},
        {"faults.json", {"--index", "3", "temperature"}, 0, "result: 0 (failure)"},
        {"faults.json", {"--index", "4", "write-value"}, 8, "status: 8"},
        {"builtin.json", {"power", "3"}, 0, "note:   DevicePWR refuses modes above 2\n"},
        {"builtin.json", {"power", "010"}, 0, "DevicePWR(USBID 0, mode 10)"},
        {"two-instruments.json",
         {"--index", "1", "display", "300"},
         0,
         "note:   SetDisplay is refused on firmware 262 and older; or WinUSB initialisation failed, or the device "
         "gave no valid reply to the request; only the low byte of the contrast, 44, is sent\n"},
        {"replies.json", {"display", "10"}, 0, "SetDisplay(USBID 0, contrast 10)"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--sim", (Examples / c.config).string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Ran ran = Run(args);
        SCOPED_TRACE(c.config + ":\n" + ran.out);
        EXPECT_EQ(ran.exit, 1);
        EXPECT_NE(ran.out.find("result:"), std::string::npos);
        EXPECT_NE(ran.out.find(" (failure)"), std::string::npos);
        auto lines = Lines(ran.out);
        auto status =
            std::find_if(lines.begin(), lines.end(), [](const auto& l) { return l.rfind("  status:", 0) == 0; });
        ASSERT_NE(status, lines.end());
        EXPECT_NE(status->find(" " + std::to_string(c.status) + " ("), std::string::npos);
        EXPECT_NE(ran.out.find(c.text), std::string::npos);
        EXPECT_EQ(ran.err, "");

        args.insert(args.begin(), "--json");
        json out = json::parse(Run(args).out);
        EXPECT_EQ(out["result"], 0);
        EXPECT_EQ(out["success"], false);
        EXPECT_EQ(out["status"], c.status);
        EXPECT_FALSE(out["statusText"].get<std::string>().empty());
        // Outputs are not shown for a failed call: they hold nothing the device said.
        for (const char* output : {"deviceID", "tmp1", "value", "input", "protectState"})
            EXPECT_FALSE(out.contains(output)) << output;
    }
}

TEST_F(Zorekctl, FaultyDevicesStillAnswerWhatTheirFaultLeavesAlone) {
    const std::string faults = (Examples / "faults.json").string();
    EXPECT_EQ(Json({"--sim", faults, "--index", "3", "id"})["deviceID"], 103);  // only the status reply faults
    EXPECT_EQ(Json({"--sim", faults, "--index", "3", "input"}, 1)["status"], 0);
    EXPECT_EQ(Json({"--sim", faults, "--index", "0", "temperature"})["tmp1"], 2150);
}

TEST_F(Zorekctl, ReplyOverridesAndLatency) {
    const std::string replies = (Examples / "replies.json").string();
    json t = Json({"--sim", replies, "temperature"});
    EXPECT_EQ(t["tmp1"], 0x1234);
    EXPECT_EQ(t["tmp2"], 0x5678);
    EXPECT_EQ(t["tmp3"], 65535);
    EXPECT_EQ(Json({"--sim", replies, "input"})["input"], 1);
    EXPECT_EQ(Json({"--sim", replies, "id"})["deviceID"], 0xCAFE);

    // Never answered: the read ends at the library's pipe time-out.
    json power = Json({"--sim", replies, "power", "1"}, 1);
    EXPECT_EQ(power["status"], 0);

    // 30 ms per transfer: an identification of four transfers takes at least 120 ms.
    const std::string slow = Write("slow.json", R"({"devices": [{"latencyMs": 30}]})").string();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Json({"--sim", slow, "id"})["result"], 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(120));
}

TEST_F(Zorekctl, ListGoesUpToTheFirstIndexWithoutADevice) {
    Ran two = Run({"--sim", (Examples / "two-instruments.json").string(), "list"});
    EXPECT_EQ(two.exit, 0);
    EXPECT_EQ(two.out,
              "index 0: deviceID 1001 (0x000003E9)\n"
              "index 1: deviceID 1002 (0x000003EA)\n"
              "index 2: status 1 (no device at this index), end of list\n");

    Ran faulty = Run({"--sim", (Examples / "faults.json").string(), "list"});
    EXPECT_EQ(faulty.exit, 1);
    auto lines = Lines(faulty.out);
    ASSERT_EQ(lines.size(), 6u) << faulty.out;
    EXPECT_EQ(lines[1], "index 1: GetDeviceID failed, status 8 (" +
                            std::string("not this instrument (foreign hardware ID), or the open failed and so did "
                                        "identification)"));
    EXPECT_EQ(lines[2],
              "index 2: GetDeviceID failed, status 0 (no connection stage failed): WinUSB initialisation failed (it "
              "has no status code of its own)");
    EXPECT_EQ(lines[3], "index 3: deviceID 103 (0x00000067)");

    json listed = Json({"--sim", (Examples / "faults.json").string(), "list"}, 1);
    ASSERT_EQ(listed["devices"].size(), 5u);
    EXPECT_EQ(listed["devices"][0]["deviceID"], 100);
    EXPECT_EQ(listed["devices"][1]["status"], 8);
    EXPECT_EQ(listed["devices"][4]["USBID"], 4);
    EXPECT_EQ(listed["end"]["USBID"], 5);
    EXPECT_EQ(listed["end"]["status"], 1);

    Ran none = Run({"--sim", Write("none.json", R"({"devices": []})").string(), "list"});
    EXPECT_EQ(none.exit, 0);
    EXPECT_EQ(none.out, "no device: index 0: status 1 (no device at this index), end of list\n");
}

TEST_F(Zorekctl, WatchPrintsCountLinesInEachFormat) {
    const std::string config = Write("known.json", KnownDevice).string();
    Ran csv = Run({"--sim", config, "watch", "--count", "3", "--interval", "0.02", "--csv"});
    EXPECT_EQ(csv.exit, 0) << csv.err;
    auto lines = Lines(csv.out);
    ASSERT_EQ(lines.size(), 4u) << csv.out;
    EXPECT_EQ(lines[0], "time,tmp1,tmp2,tmp3,result,status");
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(lines[i].substr(lines[i].find(',')), ",100,200,65535,1,0");
        EXPECT_EQ(lines[i].size(), 24 + 18u);  // 2024-05-01T12:00:00.123Z
        EXPECT_EQ(lines[i][10], 'T');
        EXPECT_EQ(lines[i][23], 'Z');
    }

    Ran columns = Run({"--sim", config, "watch", "--count", "2", "--interval", "0.02"});
    EXPECT_EQ(columns.exit, 0);
    lines = Lines(columns.out);
    ASSERT_EQ(lines.size(), 3u) << columns.out;
    EXPECT_EQ(lines[0], "time                       tmp1   tmp2   tmp3  status");
    EXPECT_EQ(lines[1].substr(24), "    100    200  65535  0 (no connection stage failed)");

    Ran jsonLines = Run({"--sim", config, "--json", "watch", "--count", "2", "--interval", "0.02"});
    lines = Lines(jsonLines.out);
    ASSERT_EQ(lines.size(), 2u) << jsonLines.out;
    for (const auto& line : lines) {
        json reading = json::parse(line);
        EXPECT_EQ(reading["tmp3"], 65535);
        EXPECT_EQ(reading["result"], 1);
        EXPECT_EQ(reading["time"].get<std::string>().size(), 24u);
    }

    // Failed readings keep the rhythm and make the exit code 1.
    Ran failing = Run({"--sim", config, "--index", "1", "watch", "--count", "2", "--interval", "0.02", "--csv"});
    EXPECT_EQ(failing.exit, 1);
    lines = Lines(failing.out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].substr(lines[2].find(',')), ",,,,0,1");
}

TEST_F(Zorekctl, WatchStopsCleanlyOnCtrlC) {
    Process watch(Tool, {"--sim", "watch", "--interval", "0.02", "--csv"}, scratch);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Lines(watch.Out()).size() < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    watch.Signal(SIGINT);
    EXPECT_EQ(watch.Wait(std::chrono::seconds(5)), 0);
    std::string out = watch.Out();
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), '\n');  // whole lines only
    auto lines = Lines(out);
    EXPECT_GE(lines.size(), 3u);
    for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(std::count(lines[i].begin(), lines[i].end(), ','), 5);
    EXPECT_EQ(watch.Err(), "");
}

struct BadConfig {
    const char* what;
    const char* content;  // null: the file does not exist
    const char* report;   // what follows "zorek-sim: FILE: "
};

TEST_F(Zorekctl, BadConfigurationIsReportedOnceAndPresentsNoDevice) {
    const BadConfig cases[] = {
        {"missing", nullptr, "cannot be opened: No such file or directory"},
        {"invalid", "{\"devices\": [", "invalid JSON: parse error at line 1, column 14"},
        {"unknown", R"({"devices": [{"colour": "red"}]})", "devices[0].colour: unknown key"},
        {"type", R"({"devices": [{"present": 1}]})", "devices[0].present: must be true or false, not 1"},
        {"range", R"({"devices": [{"state": {"temperatures": [1, 2, 65536]}}]})",
         "devices[0].state.temperatures[2]: 65536 is out of range (0 to 65535)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::path file =
            c.content != nullptr ? Write(std::string(c.what) + ".json", c.content) : scratch / "nowhere.json";
        const std::string expected = "zorek-sim: " + file.string() + ": " + c.report;

        Ran id = Run({"--sim", file.string(), "id"});
        EXPECT_EQ(id.exit, 1);
        EXPECT_NE(id.out.find("  status: 1 (no device at this index)\n"), std::string::npos) << id.out;
        EXPECT_EQ(id.err.rfind(expected, 0), 0u) << id.err;
        EXPECT_EQ(Occurrences(id.err, "zorek-sim:"), 1u) << id.err;
        EXPECT_NE(id.err.find("; presenting no device\n"), std::string::npos) << id.err;

        // Through the environment as a host sets it, and for many calls: still one report.
        Ran watch = Run({"--sim", "watch", "--count", "3", "--interval", "0.01", "--csv"},
                        {{"ZOREK_SIM_CONFIG", file.string()}});
        EXPECT_EQ(watch.exit, 1);
        EXPECT_EQ(Occurrences(watch.err, "zorek-sim:"), 1u) << watch.err;
        EXPECT_EQ(Occurrences(watch.out, ",,,,0,1"), 3u) << watch.out;
    }
}

struct BadArguments {
    std::vector<std::string> args;
    std::string message;  // the first line on standard error
    std::string usage;    // the usage line that follows
};

TEST_F(Zorekctl, BadArgumentsAreUsageErrors) {
    const std::string usage = "Usage: zorekctl [OPTIONS] SUBCOMMAND";
    const BadArguments cases[] = {
        {{}, "zorekctl: A subcommand is required", usage},
        {{"bogus"}, "zorekctl: unknown subcommand 'bogus'", usage},
        {{"--bogus", "id"}, "zorekctl: The following argument was not expected: --bogus", "Usage: zorekctl id"},
        {{"id", "extra"}, "zorekctl: The following argument was not expected: extra", "Usage: zorekctl id"},
        {{"power"}, "zorekctl: MODE is required", "Usage: zorekctl power [OPTIONS] MODE"},
        {{"power", "abc"},
         "zorekctl: MODE: 'abc' is not a whole number that fits 32 bits (-2147483648 to 4294967295, or 0x0 to "
         "0xFFFFFFFF)",
         "Usage: zorekctl power"},
        {{"power", "4294967296"},
         "zorekctl: MODE: '4294967296' is not a whole number that fits 32 bits",
         "Usage: zorekctl power"},
        {{"power", "-2147483649"}, "zorekctl: MODE: '-2147483649' is not a whole number", "Usage: zorekctl power"},
        {{"display", "1.5"}, "zorekctl: CONTRAST: '1.5' is not a whole number", "Usage: zorekctl display"},
        {{"display", " 7"}, "zorekctl: CONTRAST: ' 7' is not a whole number", "Usage: zorekctl display"},
        {{"set", "0x100000000"}, "zorekctl: VALUE: '0x100000000' is not a whole number", "Usage: zorekctl set"},
        {{"set", "-0x1"}, "zorekctl: VALUE: '-0x1' is not a whole number", "Usage: zorekctl set"},
        {{"--index", "one", "id"}, "zorekctl: --index: 'one' is not a whole number", "Usage: zorekctl id"},
        {{"watch", "--interval", "0"}, "zorekctl: --interval: Value 0 not in range", "Usage: zorekctl watch"},
        {{"watch", "--count", "-1"},
         "zorekctl: --count: Value -1 not in range 0 to 1000000000",
         "Usage: zorekctl watch"},
        {{"watch", "--csv", "--json"}, "zorekctl: --csv and --json exclude each other", "Usage: zorekctl watch"},
        {{"--sim", "--library", "x.so", "id"}, "zorekctl: --library excludes --sim", "Usage: zorekctl id"},
    };
    // Run where no library lies beside the tool: arguments are checked before anything is loaded.
    fs::create_directory(scratch / "alone");
    fs::copy_file(Tool, scratch / "alone" / "zorekctl");
    for (const auto& c : cases) {
        Ran ran = Run(c.args, {}, scratch / "alone" / "zorekctl");
        auto lines = Lines(ran.err);
        std::string shown;
        for (const auto& a : c.args) shown += a + " ";
        SCOPED_TRACE(shown + "\n" + ran.err);
        EXPECT_EQ(ran.exit, 2);
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines[0].rfind(c.message, 0), 0u);
        EXPECT_EQ(lines[1].rfind(c.usage, 0), 0u);
        EXPECT_EQ(lines.back(), "Run 'zorekctl --help' for more.");
        EXPECT_EQ(ran.out, "");
    }
}

TEST_F(Zorekctl, HelpListsEverySubcommandAndTheExitCodes) {
    Ran help = Run({"--help"});
    EXPECT_EQ(help.exit, 0);
    for (const char* sub : {"version", "id", "temperature", "write-value", "input", "power", "display", "set", "list",
                            "watch", "--library", "--sim", "--index", "--json", "Exit codes: 0 success; 1"})
        EXPECT_NE(help.out.find(sub), std::string::npos) << sub;
    Ran power = Run({"power", "--help"});
    EXPECT_EQ(power.exit, 0);
    EXPECT_NE(power.out.find("MODE"), std::string::npos) << power.out;
}

TEST_F(Zorekctl, LibraryThatCannotBeLoadedOrLacksAFunction) {
    Ran missing = Run({"--library", "/nonexistent/libzorek.so", "version"});
    EXPECT_EQ(missing.exit, 3);
    EXPECT_EQ(missing.err.rfind("zorekctl: cannot load /nonexistent/libzorek.so: ", 0), 0u) << missing.err;
    EXPECT_EQ(missing.out, "");

    Ran partial = Run({"--library", PartialLibrary.string(), "version"});
    EXPECT_EQ(partial.exit, 3);
    EXPECT_EQ(partial.err,
              "zorekctl: " + PartialLibrary.string() + " lacks the function GetDeviceID; it is no zorek library\n");
    EXPECT_EQ(partial.out, "");

    Ran notALibrary = Run({"--library", Write("text.so", "not a library").string(), "id"});
    EXPECT_EQ(notALibrary.exit, 3);
    EXPECT_NE(notALibrary.err.find("cannot load"), std::string::npos);
}

TEST_F(Zorekctl, LibrariesAreTakenFromBesideTheToolOrByPath) {
    // A copy of the tool alone: neither the real library nor zorek-sim beside it.
    fs::create_directory(scratch / "alone");
    fs::copy_file(Tool, scratch / "alone" / "zorekctl");
    Ran noDefault = Run({"id"}, {}, scratch / "alone" / "zorekctl");
    EXPECT_EQ(noDefault.exit, 3);
    auto lines = Lines(noDefault.err);
    ASSERT_EQ(lines.size(), 2u) << noDefault.err;
    EXPECT_EQ(lines[0].rfind("zorekctl: cannot load " + (scratch / "alone" / "libzorek.so").string() + ": ", 0), 0u);
    EXPECT_NE(lines[0].find("No such file or directory"), std::string::npos);
    EXPECT_EQ(lines[1],
              "zorekctl: that is the default, the library beside zorekctl; use --library PATH for another, or --sim "
              "for the simulated instrument");
    Ran noSim = Run({"--sim", "id"}, {}, scratch / "alone" / "zorekctl");
    EXPECT_EQ(noSim.exit, 3);
    EXPECT_NE(noSim.err.find((scratch / "alone" / "libzorek-sim.so").string()), std::string::npos) << noSim.err;

    // A library named libzorek.so beside the tool is its default.
    fs::create_directory(scratch / "beside");
    fs::copy_file(Tool, scratch / "beside" / "zorekctl");
    fs::copy_file(SimLibrary, scratch / "beside" / "libzorek.so");
    Ran beside = Run({"--json", "id"}, {}, scratch / "beside" / "zorekctl");
    EXPECT_EQ(beside.exit, 0) << beside.err;
    EXPECT_EQ(json::parse(beside.out)["deviceID"], 74565);

    // A relative --library path is a path from the working directory, not a library search.
    Ran relative = Run({"--json", "--library", "libzorek.so", "id"}, {}, Tool, scratch / "beside");
    EXPECT_EQ(relative.exit, 0) << relative.err;
    Ran searched =
        Run({"--library", "libzorek.so", "id"}, {{"LD_LIBRARY_PATH", (scratch / "beside").string()}}, Tool, scratch);
    EXPECT_EQ(searched.exit, 3);
}

}  // namespace
