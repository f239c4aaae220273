// Start-up of the zorek-sim library: when it is loaded, the simulated platform
// is given the devices that ZOREK_SIM_CONFIG describes, or the built-in
// instrument without it. A configuration that cannot be taken is reported once
// on standard error, and the library then presents no device.
#include <cstdio>
#include <cstdlib>
#include <variant>

#include "simulator/config.h"
#include "simulator/setup.h"

namespace {

void Configure() noexcept {
    try {
        const char* file = std::getenv("ZOREK_SIM_CONFIG");
        if (file == nullptr || *file == '\0') {
            ZorekSimulator::Apply(ZorekSimulator::Builtin());
            return;
        }
        auto result = ZorekSimConfig::Load(file);
        if (const auto* error = std::get_if<ZorekSimConfig::Error>(&result)) {
            std::fprintf(stderr, "zorek-sim: %s; presenting no device\n",
                         ZorekSimConfig::Describe(file, *error).c_str());
            return;
        }
        ZorekSimulator::Apply(std::get<ZorekSimConfig::Config>(result));
    } catch (...) {
        std::fputs("zorek-sim: the configuration could not be applied; presenting no device\n", stderr);
    }
}

[[maybe_unused]] const bool configured = (Configure(), true);

}  // namespace
