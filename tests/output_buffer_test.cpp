#include "output_buffer.h"
#include "temp_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

// Writes pieces through a buffer, each by put_output or by reserving room
// for it, and compares the file with what went in.
TEST(OutputBuffer, LargeAndSmallWritesComeOutInOrder)
{
    auto out = std::make_unique<OutputBuffer>();
    int fd = file_holding("");
    start_output(*out, fd);
    std::string expected;
    for (size_t i = 0; expected.size() < 3 * output_block_size; ++i) {
        std::string piece(i % 7 == 0 ? output_block_size + 5 : i % 997, char('a' + i % 26));
        if (piece.size() <= output_reserve_max && i % 2 == 0) {
            char* room = reserve_output(*out, piece.size());
            ASSERT_NE(room, nullptr);
            piece.copy(room, piece.size());
            commit_output(*out, piece.size());
        } else {
            ASSERT_TRUE(put_output(*out, piece.data(), piece.size()));
        }
        expected += piece;
    }
    ASSERT_TRUE(flush_output(*out));
    EXPECT_EQ(file_contents(fd), expected);
    close(fd);
}

// The first failed write is kept: nothing more is written, and every later
// call says so with its error.
TEST(OutputBuffer, AFailedWriteIsKept)
{
    auto out = std::make_unique<OutputBuffer>();
    int fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        GTEST_SKIP() << "no /dev/full";
    start_output(*out, fd);
    std::string big(output_block_size + 1, 'x');
    EXPECT_FALSE(put_output(*out, big.data(), big.size()));
    EXPECT_EQ(out->error, ENOSPC);
    EXPECT_EQ(reserve_output(*out, 10), nullptr);
    errno = 0;
    EXPECT_FALSE(flush_output(*out));
    EXPECT_EQ(errno, ENOSPC);
    close(fd);
}

}  // namespace
