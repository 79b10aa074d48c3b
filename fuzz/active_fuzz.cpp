// Fuzzes the two active line parsers on the lines that LineReader reads
// from the input. The strict parser is compared with a plain parser built on
// strtoul, and the line in normal form built from its entry must read back
// as the same entry and be written back byte for byte; the loose split must
// give back every line it accepts, byte for byte.
#include "active.h"
#include "fuzz_support.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

// Reads a number as strtoul does, from pos on. nullopt: a number that the
// library refuses rather than wrap or cut (a "-" sign before digits, or a
// value of 2^32 or more).
std::optional<uint32_t> strtoul_number(const char*& pos)
{
    const char* p = pos;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool minus = *p == '-';
    char* end = nullptr;
    errno = 0;
    unsigned long value = strtoul(pos, &end, 10);
    if (end == pos)
        return 0;  // no digit: nothing is consumed
    if (minus || errno == ERANGE || value > UINT32_MAX)
        return std::nullopt;
    pos = end;
    return static_cast<uint32_t>(value);
}

struct Expected {
    std::string name;
    uint32_t number1;
    uint32_t number2;
    char flag;
};

// The strict reading of an active line, written plainly over strtoul.
std::optional<Expected> reference_parse(const std::string& line)
{
    size_t blank = line.find(' ');
    if (blank == std::string::npos || blank == 0)
        return std::nullopt;
    const char* pos = line.c_str() + blank + 1;
    auto number1 = strtoul_number(pos);
    if (!number1)
        return std::nullopt;
    auto number2 = strtoul_number(pos);
    if (!number2 || *pos != ' ')
        return std::nullopt;
    while (*pos == ' ')
        ++pos;
    if (*pos == '\n')
        return std::nullopt;
    return Expected{line.substr(0, blank), *number1, *number2, *pos};
}

// True when the library's entry holds what the reference expects.
bool same_entry(const ActiveEntry& entry, const Expected& expected)
{
    return expected.name == entry.name && expected.number1 == entry.number1 &&
           expected.number2 == entry.number2 && expected.flag == entry.flag;
}

// The normal form of an entry, built independently of the library.
std::string normal_form(const Expected& entry)
{
    return entry.name + ' ' + std::to_string(entry.number1) + ' ' +
           std::to_string(entry.number2) + ' ' + entry.flag + '\n';
}

// The strict parser agrees with the reference; its normal form reads back
// as the same entry and is written back byte for byte.
void check_strict(const std::string& line)
{
    std::string cut = line;
    size_t name_length = normal_form_name_length(cut.data(), cut.size());
    auto entry = parse_active_entry(cut.data());
    auto expected = reference_parse(line);
    FUZZ_CHECK(entry.has_value() == expected.has_value());
    // Only a line that is its own normal form is taken for one.
    FUZZ_CHECK((name_length != 0) == (expected && normal_form(*expected) == line));
    if (!entry)
        return;
    FUZZ_CHECK(same_entry(*entry, *expected));
    FUZZ_CHECK(name_length == 0 || name_length == expected->name.size());

    std::string normal = normal_form(*expected);
    std::string normal_cut = normal;
    auto again = parse_active_entry(normal_cut.data());
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(same_entry(*again, *expected));
    FUZZ_CHECK(written_by([&](OutputBuffer& out) { format_active_entry(out, *again); }) == normal);
    FUZZ_CHECK(written_by([&](OutputBuffer& out) { format_active_entry(out, *entry); }) == normal);
}

// The loose split accepts exactly the lines with a blank that is not their
// first byte, and name, a blank and rest give the line back.
void check_loose(const std::string& line)
{
    std::string cut = line;
    auto split = split_active_line(cut.data());
    size_t blank = line.find(' ');
    FUZZ_CHECK(split.has_value() == (blank != std::string::npos && blank != 0));
    if (!split)
        return;
    FUZZ_CHECK(std::string(split->name) == line.substr(0, blank));
    FUZZ_CHECK(std::string(split->name) + ' ' + split->rest == line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for_each_line(data, size, [](const std::string& line) {
        check_strict(line);
        check_loose(line);
    });
    return 0;
}
