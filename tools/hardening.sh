#!/bin/sh
# CI hardening gates, in four stages:
#   asan  the test suite built with AddressSanitizer and UndefinedBehaviorSanitizer (gcc)
#   tsan  the tests of the bus thread and its hand-overs built with ThreadSanitizer (gcc), also
#         through the real port on the emulated modem, and the controller's tests, which hand the
#         relay byte to the bus thread and take its reports back, the MQTT connect thread and
#         the web page's password checks
#   fuzz  every libFuzzer target for FUZZ_SECONDS on a copy of its seed corpus (clang)
#   tidy  clang-tidy with the committed .clang-tidy over the project's own .cpp files
# Every stage runs even when an earlier one failed; the script fails when any stage failed.
# It installs nothing: tools/install-deps.sh provides clang, clang-tidy and the sanitizer
# runtimes.
#
# Settings (environment):
#   STAGES          stages to run, default "asan tsan fuzz tidy"
#   FUZZ_SECONDS    time per fuzz target, default 60
#   JOBS            parallel build and clang-tidy jobs, default the number of processors
#   ASAN_TESTS      optional test programs (e.g. "engine_tests storage_tests") to build and run
#                   instead of the whole ctest suite
#   TIDY_DIRS       folders whose .cpp files clang-tidy checks, default all of the project's own
#   BUILD_ASAN      sanitizer build directory, default build-asan
#   BUILD_FUZZ      fuzz build directory, default build-fuzz
#   BUILD_TSAN      ThreadSanitizer build directory, default build-tsan
#   BUILD_TIDY      configured-only directory for clang-tidy's compile commands, default build-tidy
set -u

ROOT=$(cd "$(dirname "$0")/.." && pwd)
STAGES=${STAGES:-"asan tsan fuzz tidy"}
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
JOBS=${JOBS:-$(nproc)}
ASAN_TESTS=${ASAN_TESTS:-}
TIDY_DIRS=${TIDY_DIRS:-"engine adapter storage remote core mqtt web ctl ui app tools tests bench fuzz"}
BUILD_ASAN=${BUILD_ASAN:-$ROOT/build-asan}
BUILD_FUZZ=${BUILD_FUZZ:-$ROOT/build-fuzz}
BUILD_TSAN=${BUILD_TSAN:-$ROOT/build-tsan}
BUILD_TIDY=${BUILD_TIDY:-$ROOT/build-tidy}

export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
SUPPRESSIONS=$ROOT/tools/lsan.supp
if [ -f "$SUPPRESSIONS" ]; then
    export LSAN_OPTIONS="suppressions=$SUPPRESSIONS:print_suppressions=0"
fi

FAILED=""
SUMMARY=""

heading() {
    echo
    echo "================================================================"
    echo "== $1"
    echo "================================================================"
}

# finish <stage> <start-seconds> <status>
finish() {
    took=$(($(date +%s) - $2))
    if [ "$3" -eq 0 ]; then
        result="PASSED"
    else
        result="FAILED"
        FAILED="$FAILED $1"
    fi
    echo "== $1: $result in ${took}s"
    SUMMARY="$SUMMARY
  $1: $result in ${took}s"
}

# The sanitizer build keeps assertions (Qt's own in its inline code too, such as a list index
# out of range), optimises at -O1 as the sanitizers' documentation advises and has line tables
# only: the reports still name function, file and line, and the test code, most of the build,
# compiles in about 40% less time than at -O2 -g. The benchmarks are left out: ctest does not
# run them.
configure_asan() {
    cmake -S "$ROOT" -B "$BUILD_ASAN" -G Ninja -DTAVOXA_SANITIZE=ON -DTAVOXA_BENCH=OFF \
        -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS_DEBUG="-O1 -g1" -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1"
}

configure_fuzz() {
    cmake -S "$ROOT" -B "$BUILD_FUZZ" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DTAVOXA_FUZZ=ON -DTAVOXA_TESTS=OFF -DTAVOXA_BENCH=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
}

stage_asan() {
    export ASAN_OPTIONS="detect_leaks=1"
    configure_asan || return 1
    if [ -z "$ASAN_TESTS" ]; then
        cmake --build "$BUILD_ASAN" -j "$JOBS" || return 1
        ctest --test-dir "$BUILD_ASAN" --output-on-failure --timeout 600 -j "$JOBS"
        return $?
    fi
    # shellcheck disable=SC2086  # a list of target names
    cmake --build "$BUILD_ASAN" -j "$JOBS" --target $ASAN_TESTS || return 1
    status=0
    for program in $ASAN_TESTS; do
        exe=$(find "$BUILD_ASAN/tests" -type f -name "$program" -perm -u+x | head -n 1)
        if [ -z "$exe" ]; then
            echo "-- $program: not found in $BUILD_ASAN/tests"
            status=1
            continue
        fi
        echo "-- $program"
        if QT_QPA_PLATFORM=offscreen "$exe" --gtest_brief=1; then
            echo "-- $program: passed"
        else
            echo "-- $program: FAILED"
            status=1
        fi
    done
    return $status
}

stage_tsan() {
    cmake -S "$ROOT" -B "$BUILD_TSAN" -G Ninja -DTAVOXA_TSAN=ON -DTAVOXA_BENCH=OFF || return 1
    cmake --build "$BUILD_TSAN" -j "$JOBS" --target adapter_tests tavoxa_fakemodem core_tests mqtt_tests web_tests || return 1
    # A report fails the run; the suppressions cover Qt's own internals only.
    export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 suppressions=$ROOT/tools/tsan.supp"
    exe=$BUILD_TSAN/tests/adapter/adapter_tests
    status=0
    echo "-- adapter_tests"
    QT_QPA_PLATFORM=offscreen "$exe" --gtest_brief=1 || status=1
    # The unplug cycle through the real port: the runtime first, then the emulated modem.
    echo "-- adapter_tests on the emulated modem"
    LD_PRELOAD="$(gcc -print-file-name=libtsan.so):$BUILD_TSAN/tests/adapter/libtavoxa_fakemodem.so" \
        TAVOXA_FAKEMODEM_REQUIRED=1 "$exe" --gtest_filter='RscomFakeModem.*' --gtest_brief=1 || status=1
    # The controller on the simulated board: the relay byte handed to the bus thread, the
    # reports handed back, the thread ended at close.
    echo "-- core_tests"
    QT_QPA_PLATFORM=offscreen "$BUILD_TSAN/tests/core/core_tests" --gtest_brief=1 || status=1
    # The MQTT bridge: each connect on a thread of its own, the client handed back to the loop.
    # Only the tests without the observing client: that one runs libmosquitto's own thread, whose
    # locking the runtime cannot see in the uninstrumented library. The broker is a child process
    # started after threads exist, hence die_after_fork=0.
    echo "-- mqtt_tests"
    TSAN_OPTIONS="$TSAN_OPTIONS die_after_fork=0" QT_QPA_PLATFORM=offscreen "$BUILD_TSAN/tests/mqtt/mqtt_tests" \
        --gtest_filter='MqttTest.ConnectRuns*:MqttTest.Tls*:MqttTest.NotAuthorised*:MqttTest.BadOptions*' \
        --gtest_brief=1 || status=1
    # The web page: password checks on a thread of their own, answers handed back to the loop.
    echo "-- web_tests"
    QT_QPA_PLATFORM=offscreen "$BUILD_TSAN/tests/web/web_tests" --gtest_filter='WebApi.Logins*:WebApi.RefusedRequests*' \
        --gtest_brief=1 || status=1
    unset TSAN_OPTIONS
    return $status
}

stage_fuzz() {
    unset ASAN_OPTIONS
    configure_fuzz || return 1
    cmake --build "$BUILD_FUZZ" -j "$JOBS" --target fuzzers || return 1
    logs=$BUILD_FUZZ/fuzz-logs
    artifacts=$BUILD_FUZZ/fuzz-artifacts
    mkdir -p "$logs" "$artifacts"
    status=0
    for seeds in "$ROOT"/fuzz/corpus/*/; do
        target=$(basename "$seeds")
        exe=$BUILD_FUZZ/fuzz/$target
        if [ ! -x "$exe" ]; then
            echo "-- $target: no fuzz target built for this corpus"
            status=1
            continue
        fi
        work=$(mktemp -d)
        cp -R "$seeds" "$work/corpus"
        echo "-- $target: ${FUZZ_SECONDS}s on $(find "$work/corpus" -type f | wc -l) seeds"
        if (cd "$work" && "$exe" -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=2048 -timeout=10 \
            -print_final_stats=1 -artifact_prefix="$artifacts/$target-" corpus) >"$logs/$target.log" 2>&1; then
            runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$logs/$target.log")
            echo "-- $target: passed, $runs runs, corpus $(find "$work/corpus" -type f | wc -l) inputs"
        else
            echo "-- $target: FAILED (log $logs/$target.log, inputs in $artifacts/)"
            grep -v '^INFO:\|^#[0-9]' "$logs/$target.log" | tail -n 40
            status=1
        fi
        rm -rf "$work"
    done
    return $status
}

stage_tidy() {
    # A configured tree of the ordinary build (benchmarks included) knows every program but the
    # fuzz targets; the fuzz build knows those. Nothing is built for it: no checked source
    # includes a generated file. Configuring again picks up source files added since.
    cmake -S "$ROOT" -B "$BUILD_TIDY" -G Ninja -DTAVOXA_BENCH=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
        >/dev/null || return 1
    configure_fuzz >/dev/null || return 1
    out=$(mktemp -d)
    cd "$ROOT" || return 1
    # shellcheck disable=SC2086  # a list of folders
    find $TIDY_DIRS -name '*.cpp' | sort >"$out/files"
    echo "-- $(wc -l <"$out/files") files, checks from $ROOT/.clang-tidy"
    header_filter="^$ROOT/(engine|adapter|storage|remote|core|mqtt|web|ctl|ui|app|tools|tests|bench|fuzz)/"
    # shellcheck disable=SC2016  # expanded by the inner shell
    xargs -P "$JOBS" -I{} sh -c '
        case "$1" in fuzz/*) db=$3 ;; *) db=$2 ;; esac
        clang-tidy --quiet -p "$db" --header-filter="$4" "$1" >"$5/$(echo "$1" | tr / _).log" 2>&1 ||
            echo "clang-tidy error: could not check $1" >>"$5/$(echo "$1" | tr / _).log"
    ' _ {} "$BUILD_TIDY" "$BUILD_FUZZ" "$header_filter" "$out" <"$out/files"
    # A header reported from several files counts once.
    cat "$out"/*.log | grep -E '(warning|error):' | sort -u >"$out/findings"
    count=$(wc -l <"$out/findings")
    if [ "$count" -eq 0 ]; then
        echo "-- no findings"
        rm -rf "$out"
        return 0
    fi
    cat "$out"/*.log | grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$'
    echo "-- $count findings:"
    sed 's/^/   /' "$out/findings"
    rm -rf "$out"
    return 1
}

for stage in $STAGES; do
    case $stage in
    asan) title="Stage asan: tests with AddressSanitizer and UndefinedBehaviorSanitizer" ;;
    tsan) title="Stage tsan: bus thread and controller tests with ThreadSanitizer" ;;
    fuzz) title="Stage fuzz: libFuzzer targets, ${FUZZ_SECONDS}s each" ;;
    tidy) title="Stage tidy: clang-tidy" ;;
    *)
        echo "unknown stage: $stage (stages: asan tsan fuzz tidy)"
        exit 2
        ;;
    esac
    heading "$title"
    start=$(date +%s)
    "stage_$stage"
    finish "$stage" "$start" $?
done

echo
echo "Hardening:$SUMMARY"
[ -z "$FAILED" ] || {
    echo "Failed stages:$FAILED"
    exit 1
}
