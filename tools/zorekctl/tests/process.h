// Runs a program as a child process with its own environment, its standard
// output and error going to files, for end-to-end tests of zorekctl.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

class Process {
public:
    // Starts program with args. ZOREK_SIM_CONFIG is removed from the inherited
    // environment; set holds variables to add. dir, when given, is the working
    // directory; output files go to scratch.
    Process(const std::filesystem::path& program, const std::vector<std::string>& args,
            const std::filesystem::path& scratch, const std::map<std::string, std::string>& set = {},
            const std::optional<std::filesystem::path>& dir = std::nullopt);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // The exit code, or 128 + the signal that ended it; the child is killed
    // and -1 returned when it has not ended within the time-out.
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    void Signal(int signal) const;
    std::string Out() const;
    std::string Err() const;

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    std::filesystem::path out_, err_;
};

struct Ran {
    int exit;
    std::string out;
    std::string err;
};
