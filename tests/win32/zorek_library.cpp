#include "zorek_library.h"

#include <gtest/gtest.h>

const Export Exports[8] = {
    {"DevicePWR", 1, 3},      {"GetDeviceID", 2, 3},   {"GetExternalInput", 3, 3}, {"GetInterfaceVersion", 4, 0},
    {"GetTemperature", 5, 5}, {"GetWriteValue", 6, 5}, {"SetDisplay", 7, 3},       {"SetMainValue", 8, 5},
};

// ebp frame; ebx keeps the stack pointer from before the arguments, esi the
// argument pointer and edi a marker, all three of which the callee must keep.
asm(R"(
    .text
    .globl _ZorekCallCdecl
    .def _ZorekCallCdecl; .scl 2; .type 32; .endef
_ZorekCallCdecl:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
    movl %esp, %ebx
    movl $0x5A17C0DE, %edi
1:  testl %ecx, %ecx
    jz 2f
    pushl -4(%esi,%ecx,4)
    decl %ecx
    jmp 1b
2:  call *8(%ebp)
    movl 16(%ebp), %ecx
    leal (%esp,%ecx,4), %esp
    xorl %ecx, %ecx
    cmpl %ebx, %esp
    jne 3f
    cmpl $0x5A17C0DE, %edi
    jne 3f
    cmpl 12(%ebp), %esi
    jne 3f
    movl $1, %ecx
3:  movl 20(%ebp), %edx
    movl %ecx, (%edx)
    leal -12(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
)");

ZorekLibrary::ZorekLibrary(const wchar_t* path) : module_(LoadLibraryW(path)), loadError_(GetLastError()) {}

ZorekLibrary::~ZorekLibrary() {
    if (module_ != nullptr) FreeLibrary(module_);
}

const void* ZorekLibrary::Find(const char* name) const {
    return module_ == nullptr ? nullptr : reinterpret_cast<const void*>(GetProcAddress(module_, name));
}

std::int32_t ZorekLibrary::Call(const char* name, std::initializer_list<std::int32_t> arguments) const {
    const void* function = Find(name);
    if (function == nullptr) {
        ADD_FAILURE() << "zorek.dll exports no " << name;
        return -1;
    }
    std::int32_t intact = 0;
    std::int32_t result =
        ZorekCallCdecl(function, arguments.begin(), static_cast<std::int32_t>(arguments.size()), &intact);
    EXPECT_EQ(intact, 1) << name << " changed the stack pointer or a callee-saved register";
    return result;
}

std::int32_t ZorekLibrary::GetInterfaceVersion() const { return Call("GetInterfaceVersion", {}); }

std::int32_t ZorekLibrary::GetDeviceID(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t* deviceID) const {
    return Call("GetDeviceID", {USBID, Arg(USBFlag), Arg(deviceID)});
}

std::int32_t ZorekLibrary::GetWriteValue(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t* value,
                                         std::int32_t* set, std::int32_t* protectState) const {
    return Call("GetWriteValue", {USBID, Arg(USBFlag), Arg(value), Arg(set), Arg(protectState)});
}

std::int32_t ZorekLibrary::GetTemperature(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t* tmp1,
                                          std::int32_t* tmp2, std::int32_t* tmp3) const {
    return Call("GetTemperature", {USBID, Arg(USBFlag), Arg(tmp1), Arg(tmp2), Arg(tmp3)});
}

std::int32_t ZorekLibrary::GetExternalInput(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t* input) const {
    return Call("GetExternalInput", {USBID, Arg(USBFlag), Arg(input)});
}

std::int32_t ZorekLibrary::DevicePWR(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t mode) const {
    return Call("DevicePWR", {USBID, Arg(USBFlag), mode});
}

std::int32_t ZorekLibrary::SetDisplay(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t contrast) const {
    return Call("SetDisplay", {USBID, Arg(USBFlag), contrast});
}

std::int32_t ZorekLibrary::SetMainValue(std::int32_t USBID, std::int32_t* USBFlag, std::int32_t value,
                                        std::int32_t write, std::int32_t* protectState) const {
    return Call("SetMainValue", {USBID, Arg(USBFlag), value, write, Arg(protectState)});
}

ExportDirectory ReadExportDirectory(HMODULE module) {
    ExportDirectory directory;
    auto* base = reinterpret_cast<const BYTE*>(module);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (entry.VirtualAddress == 0) return directory;
    auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    directory.base = exports->Base;
    directory.functions = exports->NumberOfFunctions;
    auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        directory.names.emplace_back(reinterpret_cast<const char*>(base + names[i]),
                                     static_cast<WORD>(ordinals[i] + exports->Base));
    return directory;
}
