#include "temp_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

int file_holding(const std::string& contents)
{
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kestro-file.XXXXXX";
    int fd = mkostemp(pattern.data(), O_CLOEXEC);
    EXPECT_GE(fd, 0) << pattern;
    if (fd < 0)
        return -1;
    unlink(pattern.c_str());
    EXPECT_EQ(write(fd, contents.data(), contents.size()), static_cast<ssize_t>(contents.size()));
    lseek(fd, 0, SEEK_SET);
    return fd;
}

std::string file_contents(int fd)
{
    std::string contents;
    char buffer[65536];
    for (off_t at = 0;;) {
        ssize_t n = pread(fd, buffer, sizeof buffer, at);
        if (n <= 0)
            break;
        contents.append(buffer, static_cast<size_t>(n));
        at += n;
    }
    return contents;
}
