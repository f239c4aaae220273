// Calls one exported function a fixed number of times on the simulated
// platform with recording off, for counting instructions under callgrind.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "interface/zorek.h"
#include "platform/sim/sim.h"

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "GetTemperature") != 0 && std::strcmp(argv[1], "GetDeviceID") != 0)) {
        std::fprintf(stderr, "usage: %s GetTemperature|GetDeviceID CALLS\n", argv[0]);
        return 2;
    }
    const bool temperature = std::strcmp(argv[1], "GetTemperature") == 0;
    const int calls = std::atoi(argv[2]);
    ZorekSim::Reset();
    ZorekSim::SetRecording(false);
    ZorekSim::AddDevice();
    std::int32_t flag, a, b, c;
    int failed = 0;
    for (int i = 0; i < calls; ++i)
        failed += (temperature ? GetTemperature(0, &flag, &a, &b, &c) : GetDeviceID(0, &flag, &a)) != 1;
    if (failed != 0) std::fprintf(stderr, "%d calls failed\n", failed);
    return failed != 0;
}
