// Starting the test builds of the programs and collecting what they did.
#pragma once

#include "process_state.h"

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

struct RunResult {
    int exit_status = -1;  // -1 when the process died of a signal
    int signal = 0;        // the signal it died of, or 0
    std::string out;
    std::string err;
};

// The program starts with every signal at its default action and none
// blocked, and without core dumps, unless these say otherwise.
struct RunOptions {
    std::string cwd;              // the folder the program runs in
    mode_t umask = 022;           // the mask the program inherits
    std::string stdout_path;      // when set, standard output goes to this file
    std::string argv0;            // when set, used instead of the program's path
    std::vector<std::string> env; // "NAME=value" entries added to the child's
                                  // environment, replacing those of the same name
    std::vector<int> ignored_signals;  // ignored when the program starts
    long file_size_limit = -1;         // RLIMIT_FSIZE in bytes, when not -1
    bool without_setid = false;        // root without CAP_SETUID and CAP_SETGID (Linux)
    std::vector<std::string> wrapper;  // a command (its full path first) that runs
                                       // the program, such as strace and its options
};

struct RunningProgram {
    pid_t pid = -1;
    int out_fd = -1;
    int err_fd = -1;
};

// The path of the test build of a program ("dropgroup", ...).
std::string program_path(const std::string& name);

// Starts the program with the arguments (not counting argv[0]).
RunningProgram start_program(const std::string& name, const std::vector<std::string>& args,
                             const RunOptions& options);
// Waits for it and collects its status and output.
RunResult finish_program(RunningProgram& running);
// Waits for it as finish_program does, but for the given time at most: a
// program still running then is killed, and the test fails.
RunResult finish_within(RunningProgram& running,
                        std::chrono::milliseconds timeout = state_timeout);
// Both in one.
RunResult run_program(const std::string& name, const std::vector<std::string>& args,
                      const RunOptions& options);
