# Two commands are all a newcomer needs: `make run` and `make test`.
BUILD_DIR ?= build
JOBS ?= 2

.PHONY: all build run test check fuzz bench clean

all: build

build:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Starts the program in run/, beside copies of the example data files.
# The program ends a complete run with status 1, which is its success value.
run: build
	mkdir -p run
	cp examples/*.txt readme_Corvane2_0.txt run/
	cd run && { ../$(BUILD_DIR)/corvane; status=$$?; [ $$status -eq 1 ] || [ $$status -eq 0 ]; }

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR) build-* run
