#include "run_program.h"

#include <gtest/gtest.h>

#include "temp_file.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/capability.h>
#include <sys/prctl.h>
#endif

#ifndef KESTRO_TEST_BIN_DIR
#error "KESTRO_TEST_BIN_DIR must name the folder of the test builds"
#endif

std::string program_path(const std::string& name)
{
    return std::string(KESTRO_TEST_BIN_DIR) + "/" + name;
}

// Everything a child wrote to the capture file, which is then closed.
static std::string read_all(int fd)
{
    std::string contents = file_contents(fd);
    close(fd);
    return contents;
}

// Our environment with the extra entries added, each replacing an entry
// of the same name.
static std::vector<std::string> child_environment(const std::vector<std::string>& extra)
{
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        std::string name = text.substr(0, text.find('=') + 1);
        bool replaced = false;
        for (const std::string& added : extra)
            replaced = replaced || added.compare(0, name.size(), name) == 0;
        if (!replaced)
            entries.push_back(text);
    }
    entries.insert(entries.end(), extra.begin(), extra.end());
    return entries;
}

// Gives the child the signal dispositions, limits and privileges the
// options ask for; false when that fails.
static bool prepare_child(const RunOptions& options)
{
    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    for (int s = 1; s < NSIG; ++s)
        sigaction(s, &plain, nullptr);  // fails harmlessly for KILL and STOP
    for (int s : options.ignored_signals)
        signal(s, SIG_IGN);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct rlimit no_core {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    if (options.file_size_limit >= 0) {
        auto limit = static_cast<rlim_t>(options.file_size_limit);
        struct rlimit size {limit, limit};
        if (setrlimit(RLIMIT_FSIZE, &size) != 0)
            return false;
    }
    if (options.without_setid) {
#ifdef __linux__
        // Out of the bounding set, exec gives root neither capability.
        if (prctl(PR_CAPBSET_DROP, CAP_SETUID, 0, 0, 0) != 0 ||
            prctl(PR_CAPBSET_DROP, CAP_SETGID, 0, 0, 0) != 0)
            return false;
#else
        return false;
#endif
    }
    return true;
}

RunningProgram start_program(const std::string& name, const std::vector<std::string>& args,
                             const RunOptions& options)
{
    std::string path = program_path(name);
    std::vector<std::string> words = options.wrapper;
    if (words.empty())
        words.push_back(options.argv0.empty() ? path : options.argv0);
    else
        words.push_back(path);
    words.insert(words.end(), args.begin(), args.end());
    std::string executable = options.wrapper.empty() ? path : options.wrapper[0];
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = child_environment(options.env);
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    RunningProgram running;
    running.out_fd = options.stdout_path.empty() ? file_holding("") : -1;
    running.err_fd = file_holding("");
    fflush(nullptr);
    running.pid = fork();
    if (running.pid == 0) {
        int out = running.out_fd;
        if (out < 0)
            out = open(options.stdout_path.c_str(), O_WRONLY);
        if (out < 0 || dup2(out, 1) < 0 || dup2(running.err_fd, 2) < 0)
            _exit(126);
        int in = open("/dev/null", O_RDONLY);
        if (in < 0 || dup2(in, 0) < 0)
            _exit(126);
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0)
            _exit(126);
        umask(options.umask);
        if (!prepare_child(options))
            _exit(125);
        execve(executable.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    EXPECT_GT(running.pid, 0);
    return running;
}

RunResult finish_program(RunningProgram& running)
{
    RunResult result;
    int status = 0;
    while (waitpid(running.pid, &status, 0) < 0) {
        if (errno != EINTR) {
            ADD_FAILURE() << "waitpid";
            return result;
        }
    }
    if (WIFEXITED(status))
        result.exit_status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    if (running.out_fd >= 0)
        result.out = read_all(running.out_fd);
    result.err = read_all(running.err_fd);
    return result;
}

RunResult finish_within(RunningProgram& running, std::chrono::milliseconds timeout)
{
    if (!wait_until([&] { return !still_running(running.pid); }, timeout)) {
        ADD_FAILURE() << "still running after " << timeout.count() << " ms: killed";
        kill(running.pid, SIGKILL);
    }
    return finish_program(running);
}

RunResult run_program(const std::string& name, const std::vector<std::string>& args,
                      const RunOptions& options)
{
    RunningProgram running = start_program(name, args, options);
    return finish_program(running);
}
