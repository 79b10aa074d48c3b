// Waiting for a started program to reach a state, instead of sleeping for
// a time that may be too short on a busy machine.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>

// True while the process has not ended (it is not reaped either).
bool still_running(pid_t pid);

// Tries the condition every few milliseconds until it holds (true) or the
// time is up (false).
bool wait_until(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::seconds(20));

// True while the process waits to take a flock lock (Linux only).
bool waits_for_flock(pid_t pid);

// True while the process sleeps in the kernel at a function whose name
// holds the text, such as "partner" for the open of a FIFO that waits for
// its other end (Linux only).
bool waits_in_kernel(pid_t pid, const std::string& text);
