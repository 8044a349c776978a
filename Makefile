# Two entry points: `make run` builds and plays the show, `make test` builds and
# runs every test, once with g++ and once with clang under ASan + UBSan.
GENERATOR := -G Ninja
BUILD_DIR := build
ASAN_DIR := build-asan

.PHONY: run test deps build build-asan bench clean

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

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR)
