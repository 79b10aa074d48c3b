// Fuzzes the group pattern matcher against the plain recursive matcher of
// the matcher tests, in both forms, and the quick look of path_filter.h
// against the matcher. The input is a pattern, a NUL byte and
// a subject (a group name, and the same bytes as an article path); bytes
// after a second NUL are ignored.
#include "fuzz_support.h"
#include "match.h"
#include "path_filter.h"
#include "reference_match.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

// The recursive matcher tries, for each star, every remaining position of
// the name: about C(n + k, k) tries for k stars and n bytes. Inputs above
// this many tries are skipped so that every run stays quick.
constexpr uint64_t max_reference_tries = 200000;
constexpr size_t max_stars = 8;

// C(n + k, k), or more than max_reference_tries once it passes that.
uint64_t reference_tries(size_t name_length, size_t stars)
{
    uint64_t tries = 1;
    for (size_t i = 1; i <= stars; ++i) {
        tries = tries * (name_length + i) / i;
        if (tries > max_reference_tries)
            break;
    }
    return tries;
}

// True when the recursive matcher would take too long on this input.
bool too_costly(const std::string& pattern, size_t name_length)
{
    auto stars = static_cast<size_t>(std::count(pattern.begin(), pattern.end(), '*'));
    return stars > max_stars || reference_tries(name_length, stars) > max_reference_tries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t split = input.find('\0');
    if (split == std::string::npos)
        return 0;
    std::string pattern = input.substr(0, split);
    std::string subject = input.substr(split + 1);
    subject.resize(strlen(subject.c_str()));
    if (too_costly(pattern, subject.size()))
        return -1;  // keeps such inputs out of the corpus

    bool by_name = match_group_name(pattern.c_str(), subject.c_str());
    FUZZ_CHECK(by_name == reference::match_name(pattern.c_str(), subject.c_str()));

    const char* last_slash = strrchr(subject.c_str(), '/');
    bool by_path = match_group_path(pattern.c_str(), subject.c_str(), last_slash);
    FUZZ_CHECK(by_path == reference::match_path(pattern.c_str(), subject.c_str()));
    // The quick look that feedqueue takes first never turns a match away.
    FUZZ_CHECK(!by_path || may_match_path(path_filter_for(pattern.c_str()), subject.c_str(),
                                          static_cast<size_t>(last_slash - subject.c_str())));
    return 0;
}
