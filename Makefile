# The user's entry points. Each one first makes sure the Debian packages are there.
.PHONY: deps build run test test-unprivileged test-sanitize bench fuzz package format \
        format-check tidy

deps:
	scripts/install-deps

build: deps
	cmake --preset release
	cmake --build --preset release

# Without a display the program itself says so in one line and exits non-zero.
run: build
	build/release/app/velmora

test: build
	ctest --preset release

# The Debian package of the release build, build/release/velmora_<version>_<arch>.deb.
package: build
	cd build/release && cpack -G DEB

# The window's and the builder's tests again as an ordinary user (a scratch user when root).
test-unprivileged: build
	scripts/run-unprivileged-tests build/release

test-sanitize: deps
	cmake --preset sanitize
	cmake --build --preset sanitize
	ctest --preset sanitize

# Medians over interleaved repetitions: ours and the baseline see the same machine noise.
# The programs show only the aggregates themselves and keep every repetition for the ranges
# of their summaries. bench_crypto runs bench/selfsigned_python.py beside it, bench_ui the
# window probes (under X too when DISPLAY is set), bench_cli velmora-cli and openssl.
BENCH_FLAGS ?= --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true \
               --benchmark_min_time=0.2
bench: build
	build/release/bench/bench_crypto $(BENCH_FLAGS)
	build/release/bench/bench_ui $(BENCH_FLAGS)
	build/release/bench/bench_cli $(BENCH_FLAGS)
	build/release/bench/startup_memory

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz
	scripts/run-fuzzers

# The C++ sources in the style of .clang-format: check-format lists what is not, format
# rewrites it.
format-check: deps
	scripts/check-format

format: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

# The checks of .clang-tidy over the program's own sources, with the release build's
# compile commands.
tidy: build
	run-clang-tidy -p build/release -quiet -j 2 '$(CURDIR)/(app|cli|core|crypto|ui)/[^/]*\.cpp$$'
