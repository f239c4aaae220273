#include "tools/zorekctl/library.h"

#include "tools/zorekctl/seam.h"

namespace ZorekCtl {

void Library::Close::operator()(void* handle) const { Seam::CloseLibrary(handle); }

Library::Library(const std::filesystem::path& path) {
    std::string reason;
    handle_.reset(Seam::OpenLibrary(path, reason));
    if (!handle_) {
        // The system's reason may name the file again.
        if (reason.rfind(path.string() + ": ", 0) == 0) reason.erase(0, path.string().size() + 2);
        throw LoadError("cannot load " + path.string() + ": " + reason);
    }
    auto find = [this, &path](auto& function, const char* name) {
        Seam::Function found = Seam::FindFunction(handle_.get(), name);
        if (found == nullptr)
            throw LoadError(path.string() + " lacks the function " + name + "; it is no zorek library");
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(found);
    };
    find(functions_.GetInterfaceVersion, "GetInterfaceVersion");
    find(functions_.GetDeviceID, "GetDeviceID");
    find(functions_.GetWriteValue, "GetWriteValue");
    find(functions_.GetTemperature, "GetTemperature");
    find(functions_.GetExternalInput, "GetExternalInput");
    find(functions_.DevicePWR, "DevicePWR");
    find(functions_.SetDisplay, "SetDisplay");
    find(functions_.SetMainValue, "SetMainValue");
}

}  // namespace ZorekCtl
