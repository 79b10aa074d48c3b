// Failing chosen system calls of a program on chosen files, with strace's
// fault injection: the when-th call of that name on those files fails.
#pragma once

#include "run_program.h"
#include "scratch_dir.h"

#include <string>
#include <vector>

struct Fault {
    const char* call;  // a system call name, or several separated by commas
    int error;
    int when;
};

// The full path of strace where it can trace here, else "".
const std::string& usable_strace();

// Skips the test where strace cannot be used, saying so.
#define SKIP_WITHOUT_STRACE()                                                      \
    if (usable_strace().empty())                                                   \
        GTEST_SKIP() << "strace is missing, or ptrace is not allowed here: "       \
                        "the system-call failure paths are not checked"

// NAME=value with the option added to the list the variable has in our
// environment (a sanitizer's options).
std::string with_option(const char* variable, const std::string& option);

// Runs the program in the scratch folder under strace with the faults on
// the files (relative to the folder; strace is given their absolute paths
// too, by which it knows open descriptors). The leak checker cannot run
// under a tracer and is turned off.
RunResult run_with_faults(const std::string& name, const ScratchDir& scratch,
                          const std::vector<std::string>& args, const std::vector<Fault>& faults,
                          const std::vector<std::string>& files, RunOptions options = {});
