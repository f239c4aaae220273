// The seam on Windows.
#include <stdlib.h>
#include <windows.h>

#include <atomic>

#include "tools/zorekctl/seam.h"

namespace ZorekCtl::Seam {

const char* const RealLibraryFile = "zorek.dll";
const char* const SimLibraryFile = "zorek-sim.dll";

namespace {

std::atomic<bool> interrupted{false};

BOOL WINAPI OnControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    interrupted.store(true);
    return TRUE;
}

std::string Reason(DWORD code) {
    char* text = nullptr;
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string reason = length != 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(code);
    if (text != nullptr) LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
        reason.pop_back();
    return reason;
}

}  // namespace

LibraryHandle OpenLibrary(const std::filesystem::path& path, std::string& error) {
    // The library's own folder is searched for what it depends on.
    HMODULE library = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) error = Reason(GetLastError());
    return library;
}

Function FindFunction(LibraryHandle library, const char* name) {
    return reinterpret_cast<Function>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(LibraryHandle library) { FreeLibrary(static_cast<HMODULE>(library)); }

std::filesystem::path ExecutableDirectory() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::filesystem::current_path();
        if (length < path.size()) {
            path.resize(length);
            return std::filesystem::path(path).parent_path();
        }
        path.resize(path.size() * 2);
    }
}

bool SetEnvironment(const char* name, const std::string& value) {
    // Both the process environment and this C runtime's copy of it, so that
    // the library sees the value whichever way it reads it.
    return SetEnvironmentVariableA(name, value.c_str()) != 0 && _putenv_s(name, value.c_str()) == 0;
}

void CatchInterrupt() { SetConsoleCtrlHandler(OnControl, TRUE); }

bool Interrupted() { return interrupted.load(); }

}  // namespace ZorekCtl::Seam
