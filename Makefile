# The two commands of the README:
#   make run    installs what is missing, builds and starts Quarn
#   make test   installs what is missing, builds and runs every test suite
# (plain, AddressSanitizer + UndefinedBehaviorSanitizer, ThreadSanitizer, fuzz smoke run)

PACKAGES := cmake ninja-build g++ pkg-config make libgtest-dev tmux \
            libsdl2-dev libsndfile1-dev libmpg123-dev libsoxr-dev libncurses-dev \
            tao-pegtl-dev picojson-dev clang libclang-rt-14-dev

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
JOBS := $(shell nproc 2>/dev/null || echo 4)
FUZZ_SECONDS ?= 300

export ASAN_OPTIONS := detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS := print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS := halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan.supp

.PHONY: run test deps build build-asan build-tsan build-fuzz test-plain test-asan test-tsan \
        fuzz fuzz-smoke format clean

run: deps build
	build/quarn

test: deps test-plain test-asan test-tsan fuzz-smoke

deps:
	@missing=$$(for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'ok installed' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
	    echo "installing:" $$missing; \
	    $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get update -q && \
	    $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	fi

# $(1): build folder, $(2): extra CMake arguments. Warnings are errors here.
define configure_and_build
	@cmake -S . -B $(1) -G Ninja -DQUARN_WERROR=ON $(2) >/dev/null
	cmake --build $(1) -j $(JOBS)
endef

build:
	$(call configure_and_build,build,-DCMAKE_BUILD_TYPE=RelWithDebInfo)

build-asan:
	$(call configure_and_build,build-asan,-DCMAKE_BUILD_TYPE=Debug -DQUARN_SANITIZE=address)

build-tsan:
	$(call configure_and_build,build-tsan,-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARN_SANITIZE=thread)

build-fuzz:
	$(call configure_and_build,build-fuzz,-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARN_FUZZ=ON \
	    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)

test-plain: build
	cd build && ctest -j $(JOBS) --output-on-failure

test-asan: build-asan
	cd build-asan && ctest -j $(JOBS) --output-on-failure

test-tsan: build-tsan
	cd build-tsan && ctest -j $(JOBS) --output-on-failure

# A short run of every fuzz target over its seed corpus; `make fuzz` runs them long.
fuzz-smoke: build-fuzz
	@for f in build-fuzz/fuzz_*; do \
	    [ -x "$$f" ] || continue; \
	    name=$$(basename $$f); \
	    mkdir -p build-fuzz/corpus/$$name; \
	    $$f -max_total_time=20 -print_final_stats=1 build-fuzz/corpus/$$name fuzz/seeds/$$name || exit 1; \
	done

fuzz: build-fuzz
	@for f in build-fuzz/fuzz_*; do \
	    [ -x "$$f" ] || continue; \
	    name=$$(basename $$f); \
	    mkdir -p build-fuzz/corpus/$$name; \
	    $$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 build-fuzz/corpus/$$name fuzz/seeds/$$name || exit 1; \
	done

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build build-asan build-tsan build-fuzz
