// zorek.dll as a host program loads it, with no instrument attached and the
// system's own winusb.dll: the exports, the calling convention, the version
// resource and the calls that find no device.
#include <gtest/gtest.h>
#include <windows.h>

#include <climits>
#include <cwchar>
#include <string>
#include <vector>

#include "zorek_library.h"

namespace {

constexpr std::int32_t Sentinel = 0x5A5A5A5A;

class HostTest : public ::testing::Test {
protected:
    ZorekLibrary library;
};

TEST_F(HostTest, LoadsWithLoadLibrary) {
    ASSERT_NE(library.Module(), nullptr) << "LoadLibraryW(zorek.dll) failed with error " << library.LoadError();
}

TEST_F(HostTest, EveryFunctionIsFoundByNameAndByItsOrdinal) {
    ASSERT_NE(library.Module(), nullptr);
    for (const Export& e : Exports) {
        FARPROC byName = GetProcAddress(library.Module(), e.name);
        FARPROC byOrdinal = GetProcAddress(library.Module(), MAKEINTRESOURCEA(e.ordinal));
        EXPECT_NE(byName, nullptr) << e.name;
        EXPECT_EQ(byName, byOrdinal) << e.name << " is not ordinal " << e.ordinal;
    }
    EXPECT_EQ(GetProcAddress(library.Module(), MAKEINTRESOURCEA(9)), nullptr);
}

TEST_F(HostTest, ExportsTheEightFunctionsAndNothingElse) {
    ASSERT_NE(library.Module(), nullptr);
    ExportDirectory directory = ReadExportDirectory(library.Module());
    EXPECT_EQ(directory.base, 1u);
    EXPECT_EQ(directory.functions, 8u);
    std::vector<std::pair<std::string, WORD>> expected;
    for (const Export& e : Exports) expected.emplace_back(e.name, e.ordinal);
    EXPECT_EQ(directory.names, expected);
}

// Each imported DLL was loaded from the system directory: the library brings
// no runtime DLL of its own along.
TEST_F(HostTest, ImportsSystemDllsOnly) {
    ASSERT_NE(library.Module(), nullptr);
    auto* base = reinterpret_cast<const BYTE*>(library.Module());
    auto* nt =
        reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(entry.VirtualAddress, 0u);
    wchar_t system[MAX_PATH];
    UINT systemLength = GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_GT(systemLength, 0u);
    int imports = 0;
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + entry.VirtualAddress); d->Name != 0; ++d) {
        const char* name = reinterpret_cast<const char*>(base + d->Name);
        HMODULE module = GetModuleHandleA(name);
        ASSERT_NE(module, nullptr) << name;
        wchar_t path[MAX_PATH];
        ASSERT_GT(GetModuleFileNameW(module, path, MAX_PATH), 0u);
        EXPECT_EQ(_wcsnicmp(path, system, systemLength), 0) << name << " came from " << std::wstring(path).c_str();
        ++imports;
    }
    EXPECT_GT(imports, 0);
}

std::wstring VersionString(const std::vector<BYTE>& info, const wchar_t* name) {
    struct Translation {
        WORD language, codePage;
    }* translation = nullptr;
    UINT size = 0;
    if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &size) ||
        size < sizeof *translation)
        return L"(no translation)";
    wchar_t path[128];
    std::swprintf(path, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language, translation->codePage, name);
    wchar_t* value = nullptr;
    if (!VerQueryValueW(info.data(), path, reinterpret_cast<void**>(&value), &size)) return L"(missing)";
    return value;
}

TEST_F(HostTest, VersionResourceGivesOneZeroTwoZero) {
    ASSERT_NE(library.Module(), nullptr);
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(library.Module(), path, MAX_PATH), 0u);
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &handle);
    ASSERT_GT(size, 0u) << "no version resource, error " << GetLastError();
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    ASSERT_GE(fixedSize, sizeof *fixed);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00020000u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00020000u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

    EXPECT_EQ(VersionString(info, L"FileVersion"), L"1, 0, 2, 0");
    EXPECT_EQ(VersionString(info, L"ProductVersion"), L"1, 0, 2, 0");
}

TEST_F(HostTest, InterfaceVersionIs258) {
    ASSERT_NE(library.Module(), nullptr);
    EXPECT_EQ(library.GetInterfaceVersion(), 258);
    EXPECT_EQ(library.GetInterfaceVersion(), 258);
}

// Every device function with no instrument attached: status 1, result 0, the
// outputs as the caller left them, deviceID cleared, the frame intact.
TEST_F(HostTest, NoDeviceAtAnyIndexGivesStatus1) {
    ASSERT_NE(library.Module(), nullptr);
    for (std::int32_t USBID : {0, 1, -1, INT_MIN, INT_MAX}) {
        SCOPED_TRACE("USBID " + std::to_string(USBID));
        std::int32_t flag = Sentinel, a = Sentinel, b = Sentinel, c = Sentinel;
        EXPECT_EQ(library.GetDeviceID(USBID, &flag, &a), 0);
        EXPECT_EQ(flag, 1);
        EXPECT_EQ(a, 0);

        struct Case {
            const char* name;
            std::int32_t (*call)(const ZorekLibrary&, std::int32_t, std::int32_t*, std::int32_t*, std::int32_t*,
                                 std::int32_t*);
        };
        const Case cases[] = {
            {"GetWriteValue", [](const ZorekLibrary& l, std::int32_t id, std::int32_t* f, std::int32_t* x,
                                 std::int32_t* y, std::int32_t* z) { return l.GetWriteValue(id, f, x, y, z); }},
            {"GetTemperature", [](const ZorekLibrary& l, std::int32_t id, std::int32_t* f, std::int32_t* x,
                                  std::int32_t* y, std::int32_t* z) { return l.GetTemperature(id, f, x, y, z); }},
            {"GetExternalInput", [](const ZorekLibrary& l, std::int32_t id, std::int32_t* f, std::int32_t* x,
                                    std::int32_t*, std::int32_t*) { return l.GetExternalInput(id, f, x); }},
            {"DevicePWR", [](const ZorekLibrary& l, std::int32_t id, std::int32_t* f, std::int32_t*, std::int32_t*,
                             std::int32_t*) { return l.DevicePWR(id, f, 7); }},
            {"SetDisplay", [](const ZorekLibrary& l, std::int32_t id, std::int32_t* f, std::int32_t*, std::int32_t*,
                              std::int32_t*) { return l.SetDisplay(id, f, 40); }},
            {"SetMainValue", [](const ZorekLibrary& l, std::int32_t id, std::int32_t* f, std::int32_t* x, std::int32_t*,
                                std::int32_t*) { return l.SetMainValue(id, f, 1234, 1, x); }},
        };
        for (const Case& row : cases) {
            flag = a = b = c = Sentinel;
            EXPECT_EQ(row.call(library, USBID, &flag, &a, &b, &c), 0) << row.name;
            EXPECT_EQ(flag, 1) << row.name;
            EXPECT_EQ(a, Sentinel) << row.name;
            EXPECT_EQ(b, Sentinel) << row.name;
            EXPECT_EQ(c, Sentinel) << row.name;
        }
    }
}

}  // namespace
