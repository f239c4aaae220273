#include "tools/zorekctl/report.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

namespace ZorekCtl {

std::string StatusMeaning(std::int32_t status) {
    switch (status) {
        case 0: return "no connection stage failed";
        case 1: return "no device at this index";
        case 2: return "the device enumeration failed";
        case 3: return "the hardware-ID list could not be allocated";
        case 4: return "the device path could not be obtained";
        case 5: return "the device-information request failed";
        case 6: return "the device-parameter request failed";
        case 7: return "opening the device reported an error";
        case 8: return "not this instrument (foreign hardware ID), or the open failed and so did identification";
        case 9: return "the open failed and so did the device-parameter request";
        default: return "unknown status code";
    }
}

std::string WithHex(std::int32_t value) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(static_cast<std::uint32_t>(value)));
    return std::to_string(value) + " (" + hex + ")";
}

void PrintText(std::ostream& out, const Outcome& outcome) {
    out << outcome.function << "(";
    for (std::size_t i = 0; i < outcome.arguments.size(); ++i)
        out << (i == 0 ? "" : ", ") << outcome.arguments[i].name << " " << outcome.arguments[i].value;
    out << ")\n";

    std::vector<std::pair<std::string, std::string>> lines;
    const bool success = outcome.result == 1;
    if (success)
        for (const auto& output : outcome.outputs)
            lines.emplace_back(output.name, output.hex ? WithHex(output.value) : std::to_string(output.value));
    lines.emplace_back("result", std::to_string(outcome.result) + (success ? " (success)" : " (failure)"));
    lines.emplace_back("status", std::to_string(outcome.status) + " (" + StatusMeaning(outcome.status) + ")");
    if (!outcome.note.empty()) lines.emplace_back("note", outcome.note);

    std::size_t width = 0;
    for (const auto& line : lines) width = std::max(width, line.first.size());
    for (const auto& [name, text] : lines)
        out << "  " << name << ":" << std::string(width - name.size() + 1, ' ') << text << "\n";
}

nlohmann::ordered_json ToJson(const Outcome& outcome) {
    nlohmann::ordered_json json = {{"function", outcome.function}};
    for (const auto& argument : outcome.arguments) json[argument.name] = argument.value;
    json["result"] = outcome.result;
    json["success"] = outcome.result == 1;
    json["status"] = outcome.status;
    json["statusText"] = StatusMeaning(outcome.status);
    if (outcome.result == 1)
        for (const auto& output : outcome.outputs) json[output.name] = output.value;
    if (!outcome.note.empty()) json["note"] = outcome.note;
    return json;
}

}  // namespace ZorekCtl
