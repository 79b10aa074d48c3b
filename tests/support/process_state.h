// Waiting for a started program to reach a state, instead of sleeping for
// a time that may be too short on a busy machine.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>

// How long a test waits for a state that should come at once: ample on a
// loaded machine, and spent in full only when the test fails.
constexpr std::chrono::seconds state_timeout{20};

// True while the process has not ended (it is not reaped either).
bool still_running(pid_t pid);

// Tries the condition every few milliseconds until it holds (true) or the
// time is up (false).
bool wait_until(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = state_timeout);

// Waits until the running process is in the state (true), or has ended or
// the time is up (false).
bool wait_for_state(pid_t pid, const std::function<bool(pid_t)>& state);

// True while the process waits to take a flock lock (Linux only).
bool waits_for_flock(pid_t pid);

// True while the process sleeps in the kernel at a function whose name
// holds the text, such as "partner" for the open of a FIFO that waits for
// its other end (Linux only).
bool waits_in_kernel(pid_t pid, const std::string& text);
