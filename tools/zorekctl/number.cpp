#include "tools/zorekctl/number.h"

#include <charconv>
#include <string>

namespace ZorekCtl {

std::optional<std::int32_t> ParseInt32(std::string_view text) {
    const char* end = text.data() + text.size();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        std::uint64_t value = 0;
        auto [stop, error] = std::from_chars(text.data() + 2, end, value, 16);
        if (error != std::errc{} || stop != end || value > UINT32_MAX) return std::nullopt;
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    }
    std::int64_t value = 0;
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end || value < INT32_MIN || value > UINT32_MAX)
        return std::nullopt;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

CLI::Validator Int32Argument() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            auto value = ParseInt32(text);
            if (!value)
                return "'" + text +
                       "' is not a whole number that fits 32 bits (-2147483648 to 4294967295, or 0x0 to 0xFFFFFFFF)";
            text = std::to_string(*value);
            return {};
        },
        "", "INT32");
}

}  // namespace ZorekCtl
