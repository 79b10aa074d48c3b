#include "process_state.h"

#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>

bool still_running(pid_t pid)
{
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool wait_for_state(pid_t pid, const std::function<bool(pid_t)>& state)
{
    return wait_until([&] { return !still_running(pid) || state(pid); }) && still_running(pid);
}

bool waits_for_flock(pid_t pid)
{
    // A waiter's line reads "N: -> FLOCK  ADVISORY  WRITE PID ...".
    std::ifstream locks("/proc/locks");
    const std::string waiter = " " + std::to_string(pid) + " ";
    for (std::string line; std::getline(locks, line);) {
        if (line.find("-> FLOCK") != std::string::npos && line.find(waiter) != std::string::npos)
            return true;
    }
    return false;
}

bool waits_in_kernel(pid_t pid, const std::string& text)
{
    std::ifstream wchan("/proc/" + std::to_string(pid) + "/wchan");
    std::ostringstream name;
    name << wchan.rdbuf();
    return name.str().find(text) != std::string::npos;
}
