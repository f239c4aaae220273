// How zorekctl shows the calls it made: as text for people, or as JSON.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace ZorekCtl {

// The meaning of a status code, in words.
std::string StatusMeaning(std::int32_t status);

// "74565 (0x00012345)": a 32-bit value with its bit pattern in hex.
std::string WithHex(std::int32_t value);

struct Named {
    std::string name;  // the parameter's name in zorek.h
    std::int32_t value;
    bool hex = false;  // also shown in hex
};

// One device call as it went.
struct Outcome {
    std::string function;
    std::vector<Named> arguments;  // USBID first
    std::int32_t result = 0;
    std::int32_t status = 0;
    std::vector<Named> outputs;  // shown only when the call succeeded
    std::string note;            // what else the reader should know
};

void PrintText(std::ostream& out, const Outcome& outcome);
nlohmann::ordered_json ToJson(const Outcome& outcome);

}  // namespace ZorekCtl
