# The user's entry points. Each one first makes sure the Debian packages are there.
.PHONY: deps build run test test-sanitize fuzz

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

test-sanitize: deps
	cmake --preset sanitize
	cmake --build --preset sanitize
	ctest --preset sanitize

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz
	scripts/run-fuzzers
