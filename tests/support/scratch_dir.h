// A private folder for one test. The test builds of the programs read their
// configuration from "kestro" below the folder they are started in, so a
// test that starts them in its own folder is isolated from every other.
#pragma once

#include <string>
#include <sys/types.h>

class ScratchDir {
public:
    ScratchDir();   // makes the folder and its "kestro" directory
    ~ScratchDir();  // removes the whole tree
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return root_; }
    // The full path of a name relative to the folder.
    std::string at(const std::string& relative) const;
    // Writes a file (mode 0644 unless given) owned by the programs' account.
    void write(const std::string& relative, const std::string& contents, mode_t mode = 0644) const;
    // Makes a directory owned by the programs' account.
    void make_dir(const std::string& relative, mode_t mode = 0755) const;
    std::string read(const std::string& relative) const;
    bool exists(const std::string& relative) const;

private:
    std::string root_;
};

// The user the programs run as when started by this process: the configured
// account when we are root and it exists, ourselves otherwise.
uid_t program_uid();
gid_t program_gid();
bool running_as_root();
// True when the programs keep root's identity (we are root and the account
// does not exist): they may then read and write any file.
bool programs_run_as_root();

// Everything the file holds, or "" when it cannot be read.
std::string read_file(const std::string& path);

// Hands a file or directory to the programs' account (when we are root).
void give_to_programs(const std::string& path);
