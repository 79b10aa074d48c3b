// Timings of the group pattern matcher: a pattern of many stars that fails
// on a long name, everyday patterns beside fnmatch(3), and the growth of the
// cost with the number of stars beside the plain recursive matcher.
#include "match.h"
#include "reference_match.h"

#include <benchmark/benchmark.h>

#include <fnmatch.h>
#include <string>
#include <vector>

namespace {

const char* const many_stars = "*a*a*a*a*a*a*a*a*a*a*b";

const char* const common_patterns[] = {"comp.*", "*.c", "comp.lang.[a-c]*", "alt.binaries.*.d"};

const char* const typical_groups[] = {
    "comp.lang.c",          "comp.lang.c++",           "comp.lang.python",
    "comp.os.linux.misc",   "comp.unix.bsd.freebsd",   "alt.binaries.pictures.d",
    "alt.binaries.sounds.d", "alt.binaries.multimedia", "rec.arts.sf.written",
    "sci.physics",          "news.announce.newusers",  "misc.test",
};
constexpr int typical_group_count = sizeof typical_groups / sizeof typical_groups[0];

// "*a" k times, then "b": it never matches a run of "a" bytes, so every star
// has to give up on every split.
std::string stars_pattern(int stars)
{
    std::string pattern;
    for (int i = 0; i < stars; ++i)
        pattern += "*a";
    return pattern + "b";
}

// How many of the typical groups a matcher selects with the pattern.
template <typename Matcher>
int selected_count(const char* pattern, Matcher matches)
{
    int selected = 0;
    for (const char* group : typical_groups)
        selected += matches(pattern, group);
    return selected;
}

bool library_matches(const char* pattern, const char* group)
{
    return match_group_name(pattern, group);
}

bool fnmatch_matches(const char* pattern, const char* group)
{
    return fnmatch(pattern, group, FNM_NOESCAPE) == 0;
}

// Times one matcher over the typical groups with the pattern of the range
// argument, after checking that it selects what the library selects.
template <typename Matcher>
void time_common_pattern(benchmark::State& state, Matcher matches)
{
    const char* pattern = common_patterns[state.range(0)];
    state.SetLabel(pattern);
    if (selected_count(pattern, matches) != selected_count(pattern, library_matches)) {
        state.SkipWithError("the matchers disagree");
        return;
    }
    for (auto _ : state) {
        for (const char* group : typical_groups)
            benchmark::DoNotOptimize(matches(pattern, group));
    }
    state.SetItemsProcessed(state.iterations() * typical_group_count);
}

}  // namespace

// The library's matcher on the failing ten-star pattern and 1,000 "a" bytes.
void BM_ManyStarsLongName(benchmark::State& state)
{
    const std::string name(1000, 'a');
    for (auto _ : state)
        benchmark::DoNotOptimize(match_group_name(many_stars, name.c_str()));
}
BENCHMARK(BM_ManyStarsLongName)->Unit(benchmark::kMicrosecond);

// The same in the path form, the name being the group part of an article path.
void BM_ManyStarsLongPath(benchmark::State& state)
{
    const std::string path = std::string(1000, 'a') + "/123";
    const char* last_slash = path.c_str() + 1000;
    for (auto _ : state)
        benchmark::DoNotOptimize(match_group_path(many_stars, path.c_str(), last_slash));
}
BENCHMARK(BM_ManyStarsLongPath)->Unit(benchmark::kMicrosecond);

// The library's matcher at its bound: each of 1,000 star positions runs through the whole pattern.
void BM_StarWorstCase(benchmark::State& state)
{
    const std::string name(1000, 'a');
    for (auto _ : state)
        benchmark::DoNotOptimize(match_group_name("*aaaaaaaaaab", name.c_str()));
}
BENCHMARK(BM_StarWorstCase)->Unit(benchmark::kMicrosecond);

// The library's matcher: one everyday pattern against the twelve typical groups.
void BM_CommonLibrary(benchmark::State& state)
{
    time_common_pattern(state, library_matches);
}
BENCHMARK(BM_CommonLibrary)->DenseRange(0, 3);

// fnmatch(3) with FNM_NOESCAPE on the same pairs, for comparison with the above.
void BM_CommonFnmatch(benchmark::State& state)
{
    time_common_pattern(state, fnmatch_matches);
}
BENCHMARK(BM_CommonFnmatch)->DenseRange(0, 3);

constexpr int stars_name_length = 24;

// The library's matcher: "*a" k times then "b" against 24 "a" bytes, k = 1..8.
void BM_StarsLibrary(benchmark::State& state)
{
    const std::string pattern = stars_pattern(static_cast<int>(state.range(0)));
    const std::string name(stars_name_length, 'a');
    for (auto _ : state)
        benchmark::DoNotOptimize(match_group_name(pattern.c_str(), name.c_str()));
}
BENCHMARK(BM_StarsLibrary)->ArgName("stars")->DenseRange(1, 8)->Unit(benchmark::kMicrosecond);

// The recursive reference matcher on the same pairs, for comparison with the above.
void BM_StarsReference(benchmark::State& state)
{
    const std::string pattern = stars_pattern(static_cast<int>(state.range(0)));
    const std::string name(stars_name_length, 'a');
    for (auto _ : state)
        benchmark::DoNotOptimize(reference::match_name(pattern.c_str(), name.c_str()));
}
BENCHMARK(BM_StarsReference)->ArgName("stars")->DenseRange(1, 8)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
