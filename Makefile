# Thin wrapper over the CMake presets. Each target installs missing packages first.
.PHONY: deps run test bench build clean


deps:
	@scripts/install-deps

build: deps
	cmake --preset release
	cmake --build --preset release

run: build
	./build/release/app/pelmora

test: deps
	cmake --preset release
	cmake --build --preset release
	ctest --preset release
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

bench: build
	cmake --build --preset release --target benchmarks
	@for b in build/release/bench/bench_*; do echo "== $$b"; "$$b" || exit 1; done

clean:
	rm -rf build
