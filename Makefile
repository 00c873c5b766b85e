# Every target sets itself up: the first run builds the toolchain root (cached
# outside the checkout), later runs reuse it.
TOOLCHAIN := scripts/toolchain.sh run
BUILD_DIR ?= build

FUZZ_SECONDS ?= 60

.PHONY: test unit demo build bench fuzz fuzz-smoke asan refleak format-check lint coverage format toolchain env clean

# Everything CI runs but lint: first, on the host, that the project's variables reach the
# toolchain root; then format check and tests; then the sanitizer tests beside the install
# check, fuzz smoke run and leak check (scripts/test-all.sh); then pyopenms, which runs on
# the host's Python 3.11 (it has no wheels for the root's 3.14), on the mzML samples the
# in-root tests left in the build directory.
test:
	scripts/check-toolchain-env.sh
	$(TOOLCHAIN) scripts/test-all.sh $(BUILD_DIR)
	scripts/pyopenms-check.sh $(BUILD_DIR)/mzml-samples

# The plain build's C++ and Python tests and the install check only.
unit:
	$(TOOLCHAIN) scripts/test.sh $(BUILD_DIR)
	scripts/pyopenms-check.sh $(BUILD_DIR)/mzml-samples

# pyopenms checks the demo's mzML files on the host's Python 3.11, as in the test target.
demo:
	$(TOOLCHAIN) scripts/demo.sh $(BUILD_DIR)
	scripts/pyopenms-check.sh $(BUILD_DIR)/demo-mzml

build:
	$(TOOLCHAIN) scripts/build.sh $(BUILD_DIR)

bench:
	$(TOOLCHAIN) scripts/bench.sh $(BUILD_DIR)-bench
	scripts/bench-picking.sh $(BUILD_DIR)-bench

asan:
	$(TOOLCHAIN) scripts/test.sh $(BUILD_DIR)-asan -DTARNVALE_SANITIZE=ON -DTARNVALE_BUILD_BENCH=OFF

fuzz:
	$(TOOLCHAIN) scripts/fuzz.sh $(BUILD_DIR)-fuzz $(FUZZ_SECONDS)

fuzz-smoke:
	$(TOOLCHAIN) scripts/fuzz.sh $(BUILD_DIR)-fuzz 10

refleak:
	$(TOOLCHAIN) scripts/refleak.sh $(BUILD_DIR)-dbg

format-check:
	$(TOOLCHAIN) scripts/check-format.sh

lint:
	$(TOOLCHAIN) scripts/lint.sh $(BUILD_DIR)-lint

coverage:
	$(TOOLCHAIN) scripts/coverage.sh $(BUILD_DIR)-coverage

format:
	$(TOOLCHAIN) sh -c 'git ls-files "*.cpp" "*.hpp" | xargs clang-format -i'

toolchain:
	scripts/toolchain.sh ensure

# The project's variables as the commands in the toolchain root see them.
env:
	@$(TOOLCHAIN) sh -c 'env | grep -E "^(TARNVALE_[A-Z0-9_]*|SCANS|SCANS_SMALL|SCANS_LARGE|POINTS|ROUNDS)=" | sort'

clean:
	rm -rf $(BUILD_DIR) $(BUILD_DIR)-*
