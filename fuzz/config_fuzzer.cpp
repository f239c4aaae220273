// Any text through the simulator's configuration parser: it returns a
// configuration or an error naming what is wrong, and never crashes or throws.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <variant>

#include "simulator/config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto result = ZorekSimConfig::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (auto* error = std::get_if<ZorekSimConfig::Error>(&result)) {
        if (error->message.empty()) {
            std::fprintf(stderr, "an error without a message (key \"%s\")\n", error->key.c_str());
            std::abort();
        }
    } else if (std::get<ZorekSimConfig::Config>(result).devices.size() > ZorekSimConfig::MaxDevices) {
        std::fprintf(stderr, "more devices than the parser admits\n");
        std::abort();
    }
    return 0;
}
