#include "active.h"

#include <cstring>

static bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

static bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// Reads a number as strtoul with base 10 reads it, moving pos past it: white
// space is skipped, a sign taken, then the digits. With no digit the value is
// 0 and pos stays where it was. A number with a "-" sign, or of 2^32 or more,
// is refused rather than wrapped or cut, so no line is written back with
// other values than it was read with.
static bool read_number(const char*& pos, uint32_t& value)
{
    const char* p = pos;
    while (is_space(*p))
        ++p;
    bool negative = *p == '-';
    if (*p == '+' || *p == '-')
        ++p;
    if (!is_digit(*p)) {
        value = 0;
        return true;
    }
    if (negative)
        return false;
    uint64_t number = 0;
    for (; is_digit(*p); ++p) {
        if (number <= UINT32_MAX)
            number = number * 10 + static_cast<uint64_t>(*p - '0');
    }
    if (number > UINT32_MAX)
        return false;
    value = static_cast<uint32_t>(number);
    pos = p;
    return true;
}

std::optional<ActiveEntry> parse_active_entry(char* line)
{
    char* blank = strchr(line, ' ');
    if (blank == nullptr || blank == line)
        return std::nullopt;
    *blank = '\0';
    ActiveEntry entry{line, 0, 0, '\0'};
    const char* pos = blank + 1;
    if (!read_number(pos, entry.number1) || !read_number(pos, entry.number2))
        return std::nullopt;
    if (*pos != ' ')
        return std::nullopt;
    while (*pos == ' ')
        ++pos;
    if (*pos == '\n' || *pos == '\0')
        return std::nullopt;
    entry.flag = *pos;
    return entry;
}

// The number of decimal digits of n.
static size_t decimal_digits(uint32_t n)
{
    size_t digits = 1;
    for (; n >= 10; n /= 10)
        ++digits;
    return digits;
}

// Writes n in decimal at p; returns the end of the digits.
static char* put_decimal(char* p, uint32_t n)
{
    char* end = p + decimal_digits(n);
    char* digit = end;
    do {
        *--digit = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n != 0);
    return end;
}

// The bytes after the name: a blank, the numbers and the flag, each after
// a blank, and the line feed.
constexpr size_t entry_tail_room = 25;

bool format_active_entry(OutputBuffer& out, const ActiveEntry& entry)
{
    size_t name_length = strlen(entry.name);
    size_t in_place = name_length <= output_reserve_max - entry_tail_room ? name_length : 0;
    if (in_place == 0 && !put_output(out, entry.name, name_length))
        return false;
    char* start = reserve_output(out, in_place + entry_tail_room);
    if (start == nullptr)
        return false;
    char* p = start;
    memcpy(p, entry.name, in_place);
    p += in_place;
    *p++ = ' ';
    p = put_decimal(p, entry.number1);
    *p++ = ' ';
    p = put_decimal(p, entry.number2);
    *p++ = ' ';
    *p++ = entry.flag;
    *p++ = '\n';
    commit_output(out, static_cast<size_t>(p - start));
    return true;
}

size_t active_entry_length(const ActiveEntry& entry)
{
    // name, blank, number1, blank, number2, blank, flag, line feed
    return strlen(entry.name) + decimal_digits(entry.number1) + decimal_digits(entry.number2) + 5;
}

std::optional<ActiveLine> split_active_line(char* line)
{
    char* blank = strchr(line, ' ');
    if (blank == nullptr || blank == line)
        return std::nullopt;
    *blank = '\0';
    return ActiveLine{line, blank + 1};
}
