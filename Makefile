# Two entry points: `make run` builds and plays the show, `make test` builds and
# runs every test: g++, clang under ASan + UBSan, and the web page headless.
# `make release` builds what users get (Release), `make package` its Debian package.
# `make web` builds the page in dist/web/, `make web-test` tests it headless.
GENERATOR := -G Ninja
BUILD_DIR := build
ASAN_DIR := build-asan
RELEASE_DIR := build-release
FUZZ_DIR := build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := music_decoder terminal_keys renderer track_list telnet_options ssh_requests
WEB_BUILD_DIR := build-web
WEB_DIR := dist/web
# emcc's JavaScript tools find Debian's node modules there whichever node runs them.
EMSCRIPTEN_ENV := NODE_PATH=/usr/share/nodejs

.PHONY: run test deps build build-asan release package bench fuzz clean web web-deps web-test pictures

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

# The .deb's dependencies come from dpkg-shlibdeps (package dpkg-dev). Only
# what it installs is built (not the tests and benchmarks of `make release`).
package: deps
	@sh tools/install-deps.sh dpkg-dev
	@cmake -S . -B $(RELEASE_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DVORNAK_WERROR=ON \
		-DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
	@cmake --build $(RELEASE_DIR) --target vornak_installed -- --quiet
	@cd $(RELEASE_DIR) && cpack -G DEB >/dev/null
	@ls $(RELEASE_DIR)/vornak_*.deb

run: build
	@cd $(BUILD_DIR) && ./vornak

# Every test: the suite with g++, again with clang under ASan + UBSan, then the
# web page headless. (The Windows build's tests: make windows-test.)
test: build build-asan
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j2
	ctest --test-dir $(ASAN_DIR) --output-on-failure -j2
	@$(MAKE) --no-print-directory web-test

bench: build
	$(BUILD_DIR)/vornak_bench

# Each libFuzzer target for FUZZ_SECONDS (clang, ASan + UBSan), two at a time
# (one per core). New inputs collect in $(FUZZ_DIR)/corpus/, the seeds stay as
# they are in tests/fuzz/; a crash leaves its input in $(FUZZ_DIR)/crashes/ and
# stops the run after its pair.
fuzz: deps
	@cmake -S . -B $(FUZZ_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
		-DVORNAK_SANITIZE=ON -DVORNAK_FUZZ=ON -DVORNAK_WERROR=ON >/dev/null
	@cmake --build $(FUZZ_DIR) --target vornak_fuzzers -- --quiet
	@mkdir -p $(FUZZ_DIR)/crashes
	@run() { \
		mkdir -p $(FUZZ_DIR)/corpus/$$1; \
		$(FUZZ_DIR)/fuzz/fuzz_$$1 -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
			-artifact_prefix=$(FUZZ_DIR)/crashes/$$1- \
			$(FUZZ_DIR)/corpus/$$1 tests/fuzz/corpus/$$1 2>$(FUZZ_DIR)/$$1.log; \
		echo $$? > $(FUZZ_DIR)/$$1.status; \
	}; \
	set -- $(FUZZ_TARGETS); \
	while [ $$# -gt 0 ]; do \
		pair=$$1; shift; \
		if [ $$# -gt 0 ]; then pair="$$pair $$1"; shift; fi; \
		for target in $$pair; do run $$target & done; \
		wait; \
		for target in $$pair; do \
			echo "fuzz_$$target: $(FUZZ_SECONDS) s"; \
			grep -E '^stat::number_of_executed_units|^#[0-9]+ *DONE' $(FUZZ_DIR)/$$target.log; \
			if [ "$$(cat $(FUZZ_DIR)/$$target.status)" != 0 ]; then \
				tail -n 60 $(FUZZ_DIR)/$$target.log; exit 1; \
			fi; \
		done; \
	done

# The README's pictures: one moment of each scene as the console shows it,
# drawn by --render into doc/pictures/ (committed; rerun after a change of the show).
PICTURE_TIMES := 15000 48000 68000 90000 110000 130000 150000 165000
pictures: build
	@rm -rf $(BUILD_DIR)/pictures
	@$(BUILD_DIR)/vornak --render $(BUILD_DIR)/pictures --at $(shell echo $(PICTURE_TIMES) | tr ' ' ,)
	@mkdir -p doc/pictures
	@for t in $(PICTURE_TIMES); do cp $(BUILD_DIR)/pictures/$$t.png doc/pictures/; done

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(RELEASE_DIR) $(FUZZ_DIR) $(WEB_BUILD_DIR) $(WINDOWS_DIR) dist

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

# Windows: vornak.exe cross-built with MinGW-w64, its libraries built from
# Debian's source packages (kept in build-windows/deps), its tests run under
# Wine (prefix kept in build-windows/wine). `make windows` makes the zip.
WINDOWS_DIR := build-windows
WINDOWS_ZIP := dist/vornak-win64.zip
WINE_ENV := WINEPREFIX=$(CURDIR)/$(WINDOWS_DIR)/wine WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= DISPLAY=

.PHONY: windows windows-build windows-test wine-server

# The Wine prefix made once, and one Wine server kept running while the build and
# the tests start Wine programs side by side (they would race to start their own).
# Wine's background services start here, away from the output of the build and
# of ctest: started by a test they would hold its output open, and ctest would
# wait for them. They and the server are stopped after the build and the tests.
wine-server:
	@mkdir -p $(WINDOWS_DIR)/wine
	@$(WINE_ENV) wineserver -p 60 </dev/null >/dev/null 2>&1 || true
	@$(WINE_ENV) wineboot </dev/null >/dev/null 2>&1

windows-build:
	@sh tools/windows/deps.sh $(WINDOWS_DIR)/deps
	@cmake -S . -B $(WINDOWS_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/tools/windows/mingw-w64.cmake \
		-DVORNAK_DEPS_PREFIX=$(CURDIR)/$(WINDOWS_DIR)/deps/prefix >/dev/null
	@$(MAKE) --no-print-directory wine-server
	@cmake --build $(WINDOWS_DIR) --target vornak vornak_tests vornak_music -- --quiet; \
		status=$$?; $(WINE_ENV) wineserver -k 2>/dev/null; exit $$status

windows: windows-build
	@sh tools/windows/package.sh $(WINDOWS_DIR) $(WINDOWS_ZIP)

windows-test: windows
	@$(MAKE) --no-print-directory wine-server
	@ctest --test-dir $(WINDOWS_DIR) --output-on-failure -j2; \
		status=$$?; $(WINE_ENV) wineserver -k 2>/dev/null; exit $$status
