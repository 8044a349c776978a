# Two entry points: `make run` builds and plays the show, `make test` builds and
# runs every test, once with g++ and once with clang under ASan + UBSan.
# `make release` builds what users get (Release), `make package` its Debian package.
# `make web` builds the page in dist/web/, `make web-test` tests it headless.
GENERATOR := -G Ninja
BUILD_DIR := build
ASAN_DIR := build-asan
RELEASE_DIR := build-release
FUZZ_DIR := build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := music_decoder terminal_keys renderer track_list
WEB_BUILD_DIR := build-web
WEB_DIR := dist/web
# emcc's JavaScript tools find Debian's node modules there whichever node runs them.
EMSCRIPTEN_ENV := NODE_PATH=/usr/share/nodejs

.PHONY: run test deps build build-asan release package bench fuzz clean web web-deps web-test

deps:
	@sh tools/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNAK_WERROR=ON >/dev/null
	@cmake --build $(BUILD_DIR) -- --quiet

build-asan: deps
	@cmake -S . -B $(ASAN_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug \
		-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DVORNAK_SANITIZE=ON \
		-DVORNAK_WERROR=ON >/dev/null
	@cmake --build $(ASAN_DIR) -- --quiet

release: deps
	@cmake -S . -B $(RELEASE_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DVORNAK_WERROR=ON >/dev/null
	@cmake --build $(RELEASE_DIR) -- --quiet

# The .deb's dependencies come from dpkg-shlibdeps (package dpkg-dev).
package: release
	@sh tools/install-deps.sh dpkg-dev
	@cd $(RELEASE_DIR) && cpack -G DEB >/dev/null
	@ls $(RELEASE_DIR)/vornak_*.deb

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
		-DVORNAK_SANITIZE=ON -DVORNAK_FUZZ=ON -DVORNAK_WERROR=ON >/dev/null
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
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(FUZZ_DIR) $(WEB_BUILD_DIR) dist

# The page: the assets and music come from the native build, the show is compiled
# with emcc (emcmake) into $(WEB_DIR) beside the page and the music.
web-deps:
	@sh tools/install-deps.sh web

web: build web-deps
	@$(EMSCRIPTEN_ENV) emcmake cmake -S . -B $(WEB_BUILD_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release \
		-DVORNAK_NATIVE_BUILD_DIR=$(CURDIR)/$(BUILD_DIR) -DVORNAK_WEB_OUTPUT_DIR=$(CURDIR)/$(WEB_DIR) >/dev/null
	@$(EMSCRIPTEN_ENV) cmake --build $(WEB_BUILD_DIR) -- --quiet
	@echo "The page is in $(WEB_DIR)/: serve that folder, e.g. python3 -m http.server -d $(WEB_DIR)"

# Headless: the wasm digest under node, and the page in Chromium (digest, pictures,
# a real play with sound and Escape). Uses the native build for the references.
web-test: web
	@cd web && npm ci --no-audit --no-fund --loglevel=error
	cd web && node --test tests/
