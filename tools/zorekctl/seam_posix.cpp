// The seam on Linux and other POSIX systems.
#include <dlfcn.h>
#include <signal.h>
#include <stdlib.h>

#include <atomic>

#include "tools/zorekctl/seam.h"

namespace ZorekCtl::Seam {

const char* const RealLibraryFile = "libzorek.so";
const char* const SimLibraryFile = "libzorek-sim.so";

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) { interrupted.store(true); }

}  // namespace

LibraryHandle OpenLibrary(const std::filesystem::path& path, std::string& error) {
    LibraryHandle library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = dlerror();
        error = reason != nullptr ? reason : "unknown error";
    }
    return library;
}

Function FindFunction(LibraryHandle library, const char* name) {
    return reinterpret_cast<Function>(dlsym(library, name));
}

void CloseLibrary(LibraryHandle library) { dlclose(library); }

std::filesystem::path ExecutableDirectory() {
    std::error_code error;
    auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::current_path() : self.parent_path();
}

bool SetEnvironment(const char* name, const std::string& value) { return setenv(name, value.c_str(), 1) == 0; }

void CatchInterrupt() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool Interrupted() { return interrupted.load(); }

}  // namespace ZorekCtl::Seam
