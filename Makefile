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
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(WINDOWS_DIR) dist

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
