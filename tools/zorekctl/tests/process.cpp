#include "process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

std::string Slurp(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int counter = 0;

}  // namespace

Process::Process(const std::filesystem::path& program, const std::vector<std::string>& args,
                 const std::filesystem::path& scratch, const std::map<std::string, std::string>& set,
                 const std::optional<std::filesystem::path>& dir) {
    ++counter;
    out_ = scratch / ("out" + std::to_string(counter));
    err_ = scratch / ("err" + std::to_string(counter));

    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        if (name != "ZOREK_SIM_CONFIG" && set.count(name) == 0) env.push_back(entry);
    }
    for (const auto& [name, value] : set) env.push_back(name + "=" + value);

    std::vector<std::string> argv = {program.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> list;
        for (auto& s : strings) list.push_back(s.data());
        list.push_back(nullptr);
        return list;
    };
    auto argp = pointers(argv);
    auto envp = pointers(env);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (dir) posix_spawn_file_actions_addchdir_np(&actions, dir->c_str());
    int error = posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
}

Process::~Process() {
    if (!status_) Wait(std::chrono::milliseconds(0));
}

int Process::Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!status_) {
        int status = 0;
        pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = status;
        } else if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            status_ = status;
            return -1;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    if (WIFEXITED(*status_)) return WEXITSTATUS(*status_);
    return 128 + WTERMSIG(*status_);
}

void Process::Signal(int signal) const { kill(pid_, signal); }

std::string Process::Out() const { return Slurp(out_); }
std::string Process::Err() const { return Slurp(err_); }
