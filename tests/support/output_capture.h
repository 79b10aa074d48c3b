// What a writer of the library puts into an OutputBuffer, as a string.
#pragma once

#include "output_buffer.h"
#include "temp_file.h"

#include <functional>
#include <memory>
#include <string>
#include <unistd.h>

inline std::string written_by(const std::function<void(OutputBuffer&)>& write)
{
    auto out = std::make_unique<OutputBuffer>();
    int fd = file_holding("");
    start_output(*out, fd);
    write(*out);
    flush_output(*out);
    std::string text = file_contents(fd);
    close(fd);
    return text;
}
