# Set-up and entry points. Every target installs missing Debian build
# dependencies first (needs root and apt-get), then drives CMake and Ninja.
BUILD      ?= build
BUILD_SAN  ?= build-sanitize
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
ifeq ($(CI),true)
CMAKE_ARGS += -DTESSARY_WERROR=ON
endif

DEBS := cmake ninja-build g++ make libgtest-dev libgmock-dev libbenchmark-dev librust-blake3-dev \
        libcli11-dev libfmt-dev libopenblas-dev libdnnl-dev python3-numpy

.PHONY: all deps build test test-sanitize demo bench clean

all: build

deps:
	@missing=""; for p in $(DEBS); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer.
# Warnings are errors in the Release build; instrumented code gives g++'s
# flow analysis false positives, so this build only reports them.
test-sanitize: deps
	cmake -S . -B $(BUILD_SAN) -G Ninja -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1" \
	  "-DCMAKE_C_FLAGS_DEBUG=-O1 -g1" -DTESSARY_SANITIZE=ON -DTESSARY_BENCH=OFF $(CMAKE_ARGS) -DTESSARY_WERROR=OFF
	cmake --build $(BUILD_SAN) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(BUILD_SAN) --output-on-failure -j $(JOBS)

# Compiles the two-layer example, runs it with x = [1, 2, 3, 4] and prints its
# output, then repeats the run: repeated runs with the same input are answered
# from the session's result memo, which the timings show.
demo: build
	@echo "== compile examples/two_layer.tess"
	$(BUILD)/tessary compile examples/two_layer.tess -o $(BUILD)/two_layer.tsa
	@echo "== run it"
	$(BUILD)/tessary run $(BUILD)/two_layer.tsa --input x=1,2,3,4
	@echo "== run it again 1000 times with the same input: the result memo answers"
	$(BUILD)/tessary run $(BUILD)/two_layer.tsa --input x=1,2,3,4 --repeat 1000

bench: build
	@for b in $(BUILD)/bench/*_bench; do [ -x "$$b" ] && "$$b"; done

clean:
	rm -rf $(BUILD) $(BUILD_SAN)
