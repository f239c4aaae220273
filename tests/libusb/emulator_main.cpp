// zorek-usb-emulator: runs a command with emulated instruments on the USB bus,
// so that a host program (zorekctl, say) can be tried on Linux without the
// device. The command sees the devices through libusb like real ones.
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "usb_emulation.h"

namespace {

constexpr std::uint32_t FirstDeviceId = 0x00010000;

// Runs argv with umockdev's preload, which points libusb at the testbed; the
// devices answer from this process while the command runs.
int Run(std::vector<std::string>& command) {
    std::string preload = "libumockdev-preload.so.0";
    if (const char* existing = std::getenv("LD_PRELOAD"); existing != nullptr && *existing != 0)
        preload += std::string(":") + existing;
    pid_t child = fork();
    if (child < 0) {
        std::fprintf(stderr, "zorek-usb-emulator: cannot start %s: %s\n", command[0].c_str(), std::strerror(errno));
        return 127;
    }
    if (child == 0) {
        setenv("LD_PRELOAD", preload.c_str(), 1);
        std::vector<char*> argv;
        for (auto& argument : command) argv.push_back(argument.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        std::fprintf(stderr, "zorek-usb-emulator: cannot run %s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return 127;
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Runs COMMAND with emulated zorek instruments on USB bus 1 (ports 2, 3, ...). "
        "Instrument USBID i reports the device identifier 0x10000 + i. "
        "Exits with the command's exit code, 127 if it cannot be run, 2 for a usage error."};
    app.set_help_flag("-h,--help", "Print this help and exit");
    int devices = 1;
    bool silent = false;
    std::vector<std::string> command;
    app.add_option("-n,--devices", devices, "Number of instruments to emulate")->check(CLI::Range(0, 100));
    app.add_flag("--silent", silent, "The instruments take requests but never answer");
    app.add_option("command", command, "The command to run, after --")->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;  // help, or a usage error
    }

    try {
        auto& bus = ZorekUsb::Testbed::Instance();
        for (int i = 0; i < devices; ++i) {
            ZorekUsb::DeviceConfig config;
            config.ports = {static_cast<std::uint8_t>(2 + i)};
            config.state.deviceId = FirstDeviceId + static_cast<std::uint32_t>(i);
            int device = bus.Add(config);
            bus.SetSilent(device, silent);
            std::fprintf(stderr, "zorek-usb-emulator: USBID %d on %s, device identifier 0x%08X%s\n", i,
                         bus.Node(device).c_str(), config.state.deviceId, silent ? ", silent" : "");
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zorek-usb-emulator: cannot set up the emulated bus: %s\n", e.what());
        return 1;
    }
    return Run(command);
}
