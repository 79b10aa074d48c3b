// Fuzzes the newsgroups line parser on the lines that LineReader reads from
// the input: it accepts exactly the lines with a tab that is not their first
// byte, and every line it accepts is written back byte for byte.
#include "fuzz_support.h"
#include "newsgroups.h"

#include <cstdint>
#include <string>

namespace {

// Parses one line and checks the entry and its writing.
void check_line(const std::string& line)
{
    std::string cut = line;
    auto entry = parse_newsgroups_entry(cut.data());
    size_t tab = line.find('\t');
    FUZZ_CHECK(entry.has_value() == (tab != std::string::npos && tab != 0));
    if (!entry)
        return;
    FUZZ_CHECK(std::string(entry->name) == line.substr(0, tab));
    FUZZ_CHECK(std::string(entry->description) == line.substr(tab + 1));
    FUZZ_CHECK(written_by([&](OutputBuffer& out) { format_newsgroups_entry(out, *entry); }) == line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for_each_line(data, size, check_line);
    return 0;
}
