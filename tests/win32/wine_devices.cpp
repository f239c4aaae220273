#include "wine_devices.h"

#include <gtest/gtest.h>
#include <winternl.h>

#include <cwctype>

const GUID ZorekInterfaceClass = {0xA7814B47, 0x27C1, 0x11DD, {0xBD, 0x0B, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};

namespace {

const GUID UsbDeviceClass = {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr wchar_t DeviceName[] = L"ZOREKTEST";
constexpr wchar_t InstancePrefix[] = L"ROOT\\ZOREKTEST\\";
constexpr wchar_t DeviceClassesKey[] =
    L"System\\CurrentControlSet\\Control\\DeviceClasses\\{a7814b47-27c1-11dd-bd0b-0800200c9a66}\\";
constexpr ACCESS_MASK SymbolicLinkAllAccess = 0xF0001;

using CreateSymbolicLink = NTSTATUS(WINAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, UNICODE_STRING*);

std::wstring InstanceId(HDEVINFO set, SP_DEVINFO_DATA& info) {
    wchar_t id[200];
    if (!SetupDiGetDeviceInstanceIdW(set, &info, id, 200, nullptr)) return {};
    return id;
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
    for (std::size_t i = 0; prefix[i] != 0; ++i)
        if (i >= text.size() || std::towupper(text[i]) != prefix[i]) return false;
    return true;
}

void RemoveLeftovers() {
    HDEVINFO all = SetupDiGetClassDevsW(&UsbDeviceClass, L"ROOT", nullptr, 0);
    if (all == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(all, i, &info); ++i)
        if (StartsWith(InstanceId(all, info), InstancePrefix)) SetupDiRemoveDevice(all, &info);
    SetupDiDestroyDeviceInfoList(all);
}

// Wine lists an interface as present once its key has Linked = 1 under
// "#\Control"; the key's name is the device path with "##?#" for "\\?\".
bool Link(const std::wstring& path) {
    std::wstring key = path;
    key[0] = key[1] = key[3] = L'#';
    HKEY control;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (DeviceClassesKey + key + L"\\#\\Control").c_str(), 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &control, nullptr) != ERROR_SUCCESS)
        return false;
    DWORD linked = 1;
    bool set = RegSetValueExW(control, L"Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&linked),
                              sizeof linked) == ERROR_SUCCESS;
    RegCloseKey(control);
    return set;
}

UNICODE_STRING Counted(const std::wstring& text) {
    auto bytes = static_cast<USHORT>(text.size() * sizeof(wchar_t));
    return UNICODE_STRING{bytes, bytes, const_cast<PWSTR>(text.c_str())};
}

// \??\<path after \\?\> -> \Device\NamedPipe\<pipe>, for as long as the
// returned handle is open.
HANDLE LinkToPipe(const std::wstring& path, const std::wstring& pipe) {
    auto create = reinterpret_cast<CreateSymbolicLink>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateSymbolicLinkObject")));
    if (create == nullptr) return nullptr;
    std::wstring name = L"\\??\\" + path.substr(4), target = L"\\Device\\NamedPipe\\" + pipe;
    UNICODE_STRING countedName = Counted(name), countedTarget = Counted(target);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &countedName, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    HANDLE link = nullptr;
    return create(&link, SymbolicLinkAllAccess, &attributes, &countedTarget) == 0 ? link : nullptr;
}

std::vector<BYTE> MultiString(const std::vector<std::wstring>& strings) {
    std::wstring joined;
    for (const auto& s : strings) joined += s + L'\0';
    joined += L'\0';
    auto* bytes = reinterpret_cast<const BYTE*>(joined.data());
    return std::vector<BYTE>(bytes, bytes + joined.size() * sizeof(wchar_t));
}

}  // namespace

DeviceBench::DeviceBench() : set_(SetupDiCreateDeviceInfoList(&UsbDeviceClass, nullptr)) {
    RemoveLeftovers();
    EXPECT_NE(set_, INVALID_HANDLE_VALUE) << "SetupDiCreateDeviceInfoList failed, error " << GetLastError();
}

DeviceBench::~DeviceBench() {
    for (Device& device : devices_) {
        for (HANDLE instance : device.instances) CloseHandle(instance);
        if (device.link != nullptr) CloseHandle(device.link);
        EXPECT_TRUE(SetupDiRemoveDevice(set_, &device.info)) << "removing a device failed, error " << GetLastError();
    }
    if (set_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set_);
}

int DeviceBench::Add(const Options& options) {
    Device device{};
    device.info.cbSize = sizeof device.info;
    if (!SetupDiCreateDeviceInfoW(set_, DeviceName, &UsbDeviceClass, nullptr, nullptr, DICD_GENERATE_ID,
                                  &device.info)) {
        ADD_FAILURE() << "SetupDiCreateDeviceInfoW failed, error " << GetLastError();
        return -1;
    }
    std::vector<BYTE> ids = MultiString(options.hardwareIds);
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    bool created = SetupDiSetDeviceRegistryPropertyW(set_, &device.info, SPDRP_HARDWAREID, ids.data(),
                                                     static_cast<DWORD>(ids.size())) &&
                   SetupDiRegisterDeviceInfo(set_, &device.info, 0, nullptr, nullptr, nullptr) &&
                   SetupDiCreateDeviceInterfaceW(set_, &device.info, &ZorekInterfaceClass, nullptr, 0, &interfaceData);
    if (!created) {
        ADD_FAILURE() << "registering the device failed, error " << GetLastError();
        SetupDiDeleteDeviceInfo(set_, &device.info);
        return -1;
    }
    devices_.push_back(device);
    Device& added = devices_.back();

    alignas(SP_DEVICE_INTERFACE_DETAIL_DATA_W) BYTE buffer[sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) + 512];
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer);
    detail->cbSize = sizeof *detail;
    if (!SetupDiGetDeviceInterfaceDetailW(set_, &interfaceData, detail, sizeof buffer, nullptr, nullptr)) {
        ADD_FAILURE() << "no device path, error " << GetLastError();
        return -1;
    }
    added.path = detail->DevicePath;
    if (options.present && !Link(added.path)) {
        ADD_FAILURE() << "linking the interface failed";
        return -1;
    }

    int number = static_cast<int>(devices_.size() - 1);
    if (options.pipeInstances > 0) {
        added.pipe = L"zorek-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(number) + L"-" +
                     std::to_wstring(GetTickCount());
        std::wstring name = L"\\\\.\\pipe\\" + added.pipe;
        for (int i = 0; i < options.pipeInstances; ++i) {
            HANDLE instance = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE,
                                               PIPE_UNLIMITED_INSTANCES, 64, 64, 0, nullptr);
            if (instance == INVALID_HANDLE_VALUE) {
                ADD_FAILURE() << "CreateNamedPipeW failed, error " << GetLastError();
                return -1;
            }
            added.instances.push_back(instance);
        }
        added.link = LinkToPipe(added.path, added.pipe);
        if (added.link == nullptr) {
            ADD_FAILURE() << "NtCreateSymbolicLinkObject failed";
            return -1;
        }
    }
    return number;
}

// PeekNamedPipe on the server end succeeds while a client is connected,
// fails with ERROR_BROKEN_PIPE once it has gone and with another error while
// the instance still waits for one.
int DeviceBench::Opens(int device) const {
    int opens = 0;
    for (HANDLE instance : devices_[device].instances) {
        DWORD available = 0;
        opens +=
            PeekNamedPipe(instance, nullptr, 0, nullptr, &available, nullptr) || GetLastError() == ERROR_BROKEN_PIPE;
    }
    return opens;
}

int DeviceBench::OpenClients(int device) const {
    int open = 0;
    for (HANDLE instance : devices_[device].instances) {
        DWORD available = 0;
        open += PeekNamedPipe(instance, nullptr, 0, nullptr, &available, nullptr) != 0;
    }
    return open;
}
