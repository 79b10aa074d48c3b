#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#ifndef KESTRO_TEST_USER
#define KESTRO_TEST_USER "news"
#endif

static const passwd* program_account()
{
    return running_as_root() ? getpwnam(KESTRO_TEST_USER) : nullptr;
}

bool running_as_root()
{
    return geteuid() == 0;
}

bool programs_run_as_root()
{
    return program_uid() == 0;
}

uid_t program_uid()
{
    const passwd* account = program_account();
    return account ? account->pw_uid : geteuid();
}

gid_t program_gid()
{
    const passwd* account = program_account();
    return account ? account->pw_gid : getegid();
}

void give_to_programs(const std::string& path)
{
    if (running_as_root()) {
        EXPECT_EQ(lchown(path.c_str(), program_uid(), program_gid()), 0) << path;
    }
}

ScratchDir::ScratchDir()
{
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kestro-test.XXXXXX";
    char* made = mkdtemp(pattern.data());
    if (made == nullptr)
        ADD_FAILURE() << "mkdtemp " << pattern;
    root_ = pattern;
    chmod(root_.c_str(), 0755);
    give_to_programs(root_);
    make_dir("kestro");
}

static int remove_entry(const char* path, const struct stat*, int, FTW*)
{
    return remove(path);
}

ScratchDir::~ScratchDir()
{
    // Reopen read-only directories so that their contents can go.
    nftw(root_.c_str(), [](const char* p, const struct stat* st, int type, FTW*) {
        if (type == FTW_D)
            chmod(p, st->st_mode | 0700);
        return 0;
    }, 16, FTW_PHYS);
    nftw(root_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string ScratchDir::at(const std::string& relative) const
{
    return root_ + "/" + relative;
}

void ScratchDir::write(const std::string& relative, const std::string& contents, mode_t mode) const
{
    std::string path = at(relative);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << contents;
        EXPECT_TRUE(out.good()) << path;
    }
    chmod(path.c_str(), mode);
    give_to_programs(path);
}

void ScratchDir::make_dir(const std::string& relative, mode_t mode) const
{
    std::string path = at(relative);
    EXPECT_EQ(mkdir(path.c_str(), mode), 0) << path;
    chmod(path.c_str(), mode);
    give_to_programs(path);
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

std::string ScratchDir::read(const std::string& relative) const
{
    return read_file(at(relative));
}

bool ScratchDir::exists(const std::string& relative) const
{
    struct stat st;
    return lstat(at(relative).c_str(), &st) == 0;
}
