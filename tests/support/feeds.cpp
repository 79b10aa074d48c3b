#include "feeds.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

std::string queue_path(const std::string& feed)
{
    return "kestro/suck/" + feed + "/outgoing";
}

void set_up_feeds(const ScratchDir& scratch, const std::string& newsfeeds,
                  const std::vector<std::string>& feeds)
{
    scratch.write("kestro/newsfeeds", newsfeeds);
    scratch.make_dir("kestro/suck");
    for (const std::string& feed : feeds)
        scratch.make_dir("kestro/suck/" + feed);
}

int lock_queue(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        EXPECT_EQ(flock(fd, LOCK_EX), 0) << path;
    }
    return fd;
}
