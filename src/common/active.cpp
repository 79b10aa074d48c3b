#include "active.h"

#include <cstring>

static bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

static bool is_digit(char c)
{
    return static_cast<unsigned char>(c - '0') < 10;
}

// Reads the digits at p into value; returns the end of the digits, or
// nullptr for a number of 2^32 or more, which is refused rather than
// wrapped or cut, so that no line is written back with other values than
// it was read with.
static const char* read_digits(const char* p, uint32_t& value)
{
    while (*p == '0')
        ++p;
    // More than ten digits after the leading zeros is too large, whatever
    // the sum (which may wrap) says.
    const char* digits = p;
    uint64_t number = 0;
    for (; is_digit(*p); ++p)
        number = number * 10 + static_cast<uint64_t>(*p - '0');
    if (p - digits > 10 || number > UINT32_MAX)
        return nullptr;
    value = static_cast<uint32_t>(number);
    return p;
}

// Reads a number at p as strtoul with base 10 reads it: white space is
// skipped, a sign taken, then the digits. Returns the end of the number;
// with no digit the value is 0 and the end is p itself. nullptr for a
// number refused: one with a "-" sign, or of 2^32 or more.
static const char* read_number(const char* p, uint32_t& value)
{
    if (is_digit(*p))
        return read_digits(p, value);
    const char* q = p;
    while (is_space(*q))
        ++q;
    bool negative = *q == '-';
    if (*q == '+' || *q == '-')
        ++q;
    if (!is_digit(*q)) {
        value = 0;
        return p;
    }
    return negative ? nullptr : read_digits(q, value);
}

std::optional<ActiveEntry> parse_active_entry(char* line)
{
    char* blank = strchr(line, ' ');
    if (blank == nullptr || blank == line)
        return std::nullopt;
    *blank = '\0';
    ActiveEntry entry{line, 0, 0, '\0'};
    const char* pos = read_number(blank + 1, entry.number1);
    if (pos != nullptr)
        pos = read_number(pos, entry.number2);
    if (pos == nullptr || *pos != ' ')
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
    static const uint32_t powers[] = {10,      100,      1000,      10000,     100000,
                                      1000000, 10000000, 100000000, 1000000000};
    size_t digits = 1;
    while (digits <= 9 && n >= powers[digits - 1])
        ++digits;
    return digits;
}

// Writes n in decimal at p, two digits at a time from the last; returns
// the end of the digits.
static char* put_decimal(char* p, uint32_t n)
{
    static const char pairs[] = "00010203040506070809101112131415161718192021222324"
                                "25262728293031323334353637383940414243444546474849"
                                "50515253545556575859606162636465666768697071727374"
                                "75767778798081828384858687888990919293949596979899";
    char* end = p + decimal_digits(n);
    char* q = end;
    while (n >= 100) {
        size_t pair = size_t{2} * (n % 100);
        n /= 100;
        q -= 2;
        q[0] = pairs[pair];
        q[1] = pairs[pair + 1];
    }
    if (n >= 10) {
        size_t pair = size_t{2} * n;
        q[-2] = pairs[pair];
        q[-1] = pairs[pair + 1];
    } else {
        q[-1] = static_cast<char>('0' + n);
    }
    return end;
}

// The bytes after the name: a blank, the numbers and the flag, each after
// a blank, and the line feed.
constexpr size_t entry_tail_room = 25;

bool format_active_entry(OutputBuffer& out, const ActiveEntry& entry)
{
    if (!put_output(out, entry.name, strlen(entry.name)))
        return false;
    char* start = reserve_output(out, entry_tail_room);
    if (start == nullptr)
        return false;
    char* p = start;
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

// The end of a number at p in plain decimal below 2^32, as
// format_active_entry writes one (no sign, no leading zero), or nullptr.
static const char* plain_decimal(const char* p)
{
    static const char largest[] = "4294967295";
    if (*p == '0')
        return p + 1;
    const char* start = p;
    while (is_digit(*p))
        ++p;
    size_t digits = static_cast<size_t>(p - start);
    if (digits == 0 || digits > 10 || (digits == 10 && memcmp(start, largest, 10) > 0))
        return nullptr;
    return p;
}

size_t normal_form_name_length(const char* line, size_t length)
{
    const char* blank = static_cast<const char*>(memchr(line, ' ', length));
    if (blank == nullptr || blank == line)
        return 0;
    const char* p = plain_decimal(blank + 1);
    if (p == nullptr || *p != ' ')
        return 0;
    p = plain_decimal(p + 1);
    if (p == nullptr || *p != ' ' || p[1] == ' ' || p[1] == '\n' || p + 3 != line + length)
        return 0;
    return static_cast<size_t>(blank - line);
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
