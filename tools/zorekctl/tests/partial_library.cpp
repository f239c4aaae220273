// A library with only one of the eight functions, which zorekctl must refuse.
#include <cstdint>

extern "C" std::int32_t GetInterfaceVersion(void) { return 258; }
