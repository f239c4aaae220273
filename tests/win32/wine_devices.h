// Devices of the instrument's interface class, registered with the real
// SetupAPI as root devices for the length of a test, and made openable: a
// named pipe of the test process, linked from the device path, stands in for
// the device, so that CreateFileW on the path opens a client end of the pipe.
#pragma once

#include <windows.h>
// After windows.h:
#include <setupapi.h>

#include <string>
#include <vector>

class DeviceBench {
public:
    struct Options {
        std::vector<std::wstring> hardwareIds = {L"USB\\VID_04D8&PID_00DF&REV_0100", L"USB\\VID_04D8&PID_00DF"};
        bool present = true;     // the interface is linked, so DIGCF_PRESENT lists it
        int pipeInstances = 16;  // opens the path admits; 0: no pipe, the open fails
    };

    // Removes devices that an earlier, broken run left behind.
    DeviceBench();
    // Removes every device it added, with their links and pipes.
    ~DeviceBench();
    DeviceBench(const DeviceBench&) = delete;
    DeviceBench& operator=(const DeviceBench&) = delete;

    // Adds a device after the ones before it in the enumeration order; returns
    // its number, or -1 with a test failure.
    int Add(const Options& options);
    int Add() { return Add(Options{}); }

    const std::wstring& DevicePath(int device) const { return devices_[device].path; }
    // The pipe's name as the pipe file system gives it: "\name".
    std::wstring PipeName(int device) const { return L"\\" + devices_[device].pipe; }

    // Pipe instances whose client end was opened, and those still open.
    int Opens(int device) const;
    int OpenClients(int device) const;

private:
    struct Device {
        SP_DEVINFO_DATA info;
        std::wstring path;
        std::wstring pipe;
        HANDLE link = nullptr;
        std::vector<HANDLE> instances;
    };
    HDEVINFO set_;
    std::vector<Device> devices_;
};

// The instrument's interface class.
extern const GUID ZorekInterfaceClass;
