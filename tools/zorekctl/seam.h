// The operating-system services that zorekctl needs: loading a library by
// path, finding the folder of the executable, setting an environment variable
// and catching Ctrl-C. One source file per system implements them; the build
// picks it.
#pragma once

#include <filesystem>
#include <string>

namespace ZorekCtl::Seam {

// File names of the real library and of zorek-sim, beside zorekctl.
extern const char* const RealLibraryFile;
extern const char* const SimLibraryFile;

using LibraryHandle = void*;
using Function = void (*)();

// Loads the library at path (no search); null on failure, with error set to
// the system's reason.
LibraryHandle OpenLibrary(const std::filesystem::path& path, std::string& error);
// The exported function of that name, or null.
Function FindFunction(LibraryHandle library, const char* name);
void CloseLibrary(LibraryHandle library);

// The folder that holds the running executable.
std::filesystem::path ExecutableDirectory();

// Sets a variable in the process environment; false on failure.
bool SetEnvironment(const char* name, const std::string& value);

// From now on Ctrl-C (and a request to terminate) ends no process but makes
// Interrupted() true.
void CatchInterrupt();
bool Interrupted();

}  // namespace ZorekCtl::Seam
