# Two entry points: `make run` builds and plays the show, `make test` builds and
# runs every test, once with g++ and once with clang under ASan + UBSan.
GENERATOR := -G Ninja
BUILD_DIR := build
ASAN_DIR := build-asan
FUZZ_DIR := build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := music_decoder terminal_keys renderer track_list

.PHONY: run test deps build build-asan bench fuzz clean

deps:
	@sh tools/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD_DIR) -- --quiet

build-asan: deps
	@cmake -S . -B $(ASAN_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug \
		-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DVORNAK_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_DIR) -- --quiet

run: build
	@cd $(BUILD_DIR) && ./vornak

test: build build-asan
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j2
	ctest --test-dir $(ASAN_DIR) --output-on-failure -j2

bench: build
	$(BUILD_DIR)/vornak_bench

# Each libFuzzer target for FUZZ_SECONDS (clang, ASan + UBSan). New inputs
# collect in $(FUZZ_DIR)/corpus/, the seeds stay as they are in tests/fuzz/;
# a crash leaves its input in $(FUZZ_DIR)/crashes/ and stops the run.
fuzz: deps
	@cmake -S . -B $(FUZZ_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
		-DVORNAK_SANITIZE=ON -DVORNAK_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_DIR) --target vornak_fuzzers -- --quiet
	@mkdir -p $(FUZZ_DIR)/crashes
	@for target in $(FUZZ_TARGETS); do \
		mkdir -p $(FUZZ_DIR)/corpus/$$target; \
		echo "fuzz_$$target: $(FUZZ_SECONDS) s"; \
		$(FUZZ_DIR)/fuzz/fuzz_$$target -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
			-artifact_prefix=$(FUZZ_DIR)/crashes/$$target- \
			$(FUZZ_DIR)/corpus/$$target tests/fuzz/corpus/$$target 2>$(FUZZ_DIR)/$$target.log; \
		status=$$?; grep -E '^stat::number_of_executed_units|^#[0-9]+ *DONE' $(FUZZ_DIR)/$$target.log; \
		if [ $$status -ne 0 ]; then tail -n 60 $(FUZZ_DIR)/$$target.log; exit 1; fi; \
	done

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(FUZZ_DIR)
