# make test  - install what is missing, then build and run the whole suite in release and under
#              AddressSanitizer + UndefinedBehaviorSanitizer, and the threaded tests under
#              ThreadSanitizer.
# make demo  - install what is missing, build the kip tool in release and run 'kip demo out/demo'.
# make bench - install what is missing (OpenCV included), build in release, run both benchmarks.
# make fuzz  - install clang and libFuzzer, build the fuzz targets (ASan + UBSan), run each over its
#              seeds, then fuzz each for FUZZ_SECONDS (FUZZ_TARGETS picks some: geometry ...).
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= $(notdir $(wildcard tests/fuzz/corpus/*))

.PHONY: test test-release test-asan test-tsan demo bench fuzz bootstrap clean

test: bootstrap test-release test-asan test-tsan

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

# Only the tests whose point is threads: the job bands and eight callers at once.
TSAN_TESTS = concurrency_test engine_threaded_test
test-tsan:
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS) --target $(TSAN_TESTS)
	ctest --preset tsan -j $(JOBS) -R '^($(subst $(eval) ,|,$(TSAN_TESTS)))\.'

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

# New inputs go to build/fuzz/corpus/<target>, crashes to build/fuzz/artifacts, the whole output
# to build/fuzz/logs/<target>.log; the seeds in tests/fuzz/corpus are only read.
fuzz:
	@scripts/bootstrap --fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	ctest --preset fuzz -j $(JOBS)
	@mkdir -p build/fuzz/artifacts build/fuzz/logs
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p build/fuzz/corpus/$$t; \
	  echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
	  build/fuzz/tests/fuzz/fuzz_$$t build/fuzz/corpus/$$t tests/fuzz/corpus/$$t \
	    -max_total_time=$(FUZZ_SECONDS) -timeout=30 -print_final_stats=1 \
	    -artifact_prefix=build/fuzz/artifacts/$$t- > build/fuzz/logs/$$t.log 2>&1 \
	    || { tail -n 60 build/fuzz/logs/$$t.log; exit 1; }; \
	  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' build/fuzz/logs/$$t.log; \
	done

clean:
	rm -rf build
