// A zorek library loaded at run time by path, as a host program loads it, with
// its eight exported functions.
#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>

#include "interface/zorek.h"

namespace ZorekCtl {

// The library could not be loaded, or lacks one of the functions.
struct LoadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Functions {
    decltype(&::GetInterfaceVersion) GetInterfaceVersion;
    decltype(&::GetDeviceID) GetDeviceID;
    decltype(&::GetWriteValue) GetWriteValue;
    decltype(&::GetTemperature) GetTemperature;
    decltype(&::GetExternalInput) GetExternalInput;
    decltype(&::DevicePWR) DevicePWR;
    decltype(&::SetDisplay) SetDisplay;
    decltype(&::SetMainValue) SetMainValue;
};

class Library {
public:
    // Loads the library and finds all eight functions; throws LoadError.
    explicit Library(const std::filesystem::path& path);

    const Functions& operator*() const { return functions_; }
    const Functions* operator->() const { return &functions_; }

private:
    struct Close {
        void operator()(void* handle) const;
    };
    std::unique_ptr<void, Close> handle_;
    Functions functions_{};
};

}  // namespace ZorekCtl
