# shellcheck shell=sh
# Sourced by the benchmark scripts, from the top of the checkout.
# find_test_build NAME prints the full path of a test build of the program NAME:
# build/bench first, then a Release tree (build/*-rel), then any other build
# but a sanitizer one. It fails with a message when there is none.
find_test_build() {
    for candidate in "build/bench/test-bin/$1" build/*-rel/test-bin/"$1" \
                     build/*/test-bin/"$1"; do
        case $candidate in *asan*|*sanitize*) continue ;; esac
        if [ -x "$candidate" ]; then
            echo "$(pwd)/$candidate"
            return 0
        fi
    done
    echo "no test build of $1 under build/*/test-bin; give its path" >&2
    return 1
}
