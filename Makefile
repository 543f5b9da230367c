# make test  - install what is missing, then build and run the whole suite in release and under
#              AddressSanitizer + UndefinedBehaviorSanitizer.
# make demo  - install what is missing, build the kip tool in release and run 'kip demo out/demo'.
# make bench - install what is missing (OpenCV included), build in release, run both benchmarks.
JOBS ?= $(shell nproc)

.PHONY: test test-release test-asan demo bench bootstrap clean

test: bootstrap test-release test-asan

bootstrap:
	@scripts/bootstrap

test-release:
	cmake --preset release -DKIP_BUILD_BENCH=OFF
	cmake --build --preset release -j $(JOBS)
	ctest --preset release -j $(JOBS)

test-asan:
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

demo: bootstrap
	cmake --preset release -DKIP_BUILD_BENCH=OFF
	cmake --build --preset release -j $(JOBS) --target kip_tool
	build/release/tools/kip/kip demo out/demo

bench:
	@scripts/bootstrap --bench
	cmake --preset release -DKIP_BUILD_BENCH=ON
	cmake --build --preset release -j $(JOBS) --target kip_bench compare
	build/release/bench/kip_bench --benchmark_min_time=0.2
	build/release/bench/compare

clean:
	rm -rf build
