#include "strace_faults.h"

#include <cstdlib>
#include <unistd.h>

const std::string& usable_strace()
{
    static const std::string path = [] {
        for (const char* candidate : {"/usr/bin/strace", "/bin/strace", "/usr/local/bin/strace"}) {
            std::string probe = std::string(candidate) + " -qq -o /dev/null /bin/true 2>/dev/null";
            if (access(candidate, X_OK) == 0 && system(probe.c_str()) == 0)
                return std::string(candidate);
        }
        return std::string();
    }();
    return path;
}

// Drops the notes that strace writes of the paths it resolves, keeping
// the program's reports (and any complaint of strace's, which fails).
static std::string without_strace_notes(const std::string& err)
{
    std::string kept;
    for (size_t start = 0, end; start < err.size(); start = end + 1) {
        end = err.find('\n', start);
        if (end == std::string::npos)
            end = err.size();
        std::string line = err.substr(start, end - start + 1);
        bool note = line.starts_with(usable_strace() + ": Requested path ") &&
                    line.find(" resolved into ") != std::string::npos;
        if (!note)
            kept += line;
    }
    return kept;
}

RunResult run_with_faults(const std::string& name, const ScratchDir& scratch,
                          const std::vector<std::string>& args, const std::vector<Fault>& faults,
                          const std::vector<std::string>& files, RunOptions options)
{
    options.cwd = scratch.path();
    options.wrapper = {usable_strace(), "-f", "-qq", "-o", "/dev/null"};
    for (const Fault& f : faults) {
        options.wrapper.push_back("-e");
        options.wrapper.push_back(std::string("inject=") + f.call + ":error=" +
                                  std::to_string(f.error) + ":when=" + std::to_string(f.when));
    }
    for (const std::string& file : files) {
        for (const std::string& path : {file, scratch.at(file)}) {
            options.wrapper.push_back("-P");
            options.wrapper.push_back(path);
        }
    }
    options.env.push_back(with_option("ASAN_OPTIONS", "detect_leaks=0"));
    RunResult run = run_program(name, args, options);
    run.err = without_strace_notes(run.err);
    return run;
}

std::string with_option(const char* variable, const std::string& option)
{
    const char* existing = getenv(variable);
    std::string options = existing != nullptr && *existing != '\0' ? existing + std::string(":") : "";
    return std::string(variable) + "=" + options + option;
}
