# Two commands are all a newcomer needs: `make run` and `make test`.
BUILD_DIR ?= build
JOBS ?= 2

.PHONY: all build programs run test install cross-aarch64 cross-i386 check tsan fuzz fuzz-build fuzz-replay bench bench-prepare validate validate-ci validate-scan validate-scan-ci clean

all: build

# The programs a user runs; `make run` builds these alone, no test program.
PROGRAMS = corvane corvane-prepare corvane-simulate corvane-scan
# Installs the Debian packages a goal needs when some are missing (see tools/dependencies.txt).
DEPENDENCIES = bash tools/install_dependencies.sh
PREFIX ?= /usr/local
CONFIGURE = cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=$(PREFIX)

build:
	$(DEPENDENCIES) test
	$(CONFIGURE)
	cmake --build $(BUILD_DIR) -j $(JOBS)

programs:
	$(DEPENDENCIES) run
	$(CONFIGURE)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target $(PROGRAMS)

# Starts the program in run/, beside copies of the example data files.
# The program ends a complete run with status 1, which is its success value;
# an error stop ends with status 0, which make then reports as a failure.
run: programs
	mkdir -p run
	cp examples/*.txt readme_Corvane2_0.txt run/
	@echo "At the first question, type simulated_admixture.txt; the results go to run/result_admix.txt."
	cd run && { ../$(BUILD_DIR)/corvane; [ $$? -eq 1 ]; }

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure --no-tests=error -j $(JOBS)

# Installs the programs, their man pages, the user guide and the examples under
# PREFIX; the programs are configured for it, since `corvane --help` names the
# folder of the documentation.
install: build
	cmake --install $(BUILD_DIR)

# Bootstrap workloads on generated data in $(BUILD_DIR)/bench/: the speed of this
# build on 1, 2 and every thread against the straightforward implementation (the
# plain arithmetic forced) in alternating rounds, then the scaling table (time
# and peak memory against loci, haplotypes, parents, replicates and threads, for
# both resampling schemes). A few minutes.
bench: build
	bash bench/run_bench.sh $(BUILD_DIR)/corvane $(BUILD_DIR)/generate_bench_data $(BUILD_DIR)/measure_run \
		$(BUILD_DIR)/bench

# corvane-prepare on a generated phased BCF of 2500 samples with 100 regions of 50
# variant sites, in $(BUILD_DIR)/bench-prepare/; prints the wall time.
bench-prepare: build
	bash bench/run_prepare_bench.sh $(BUILD_DIR)/prepare/corvane-prepare $(BUILD_DIR)/prepare/generate_phased_vcf $(BUILD_DIR)/bench-prepare

# The validation study: data sets simulated with known proportions, estimated with both
# bootstrap schemes; writes validate/study_table.md and draws validate/study_figure.png
# (matplotlib from Debian's python3-matplotlib, hence /usr/bin/python3); the data and
# per-data-set results stay in $(BUILD_DIR)/validate/. `make validate-ci` runs the reduced
# grid that CI runs and fails when the locus bootstrap's coverage falls below its thresholds.
STUDY = python3 validate/run_study.py --corvane $(BUILD_DIR)/corvane \
	--simulate $(BUILD_DIR)/simulate/corvane-simulate --jobs $(JOBS)
validate: build
	$(STUDY) --grid full --out $(BUILD_DIR)/validate --table validate/study_table.md
	/usr/bin/python3 validate/plot_study.py $(BUILD_DIR)/validate validate/study_figure.png

validate-ci: build
	$(STUDY) --grid ci --out $(BUILD_DIR)/validate-ci --check

# The model scan's validation: calibration of its p-value, power against a source left
# out (10 to 100 loci), ranking of the true pair among 6 candidates, identity of every
# model with corvane on the cut data file; writes validate/scan_table.md. `make
# validate-scan-ci` runs the reduced grid CI runs (about a minute) and fails on a missed target.
SCAN_STUDY = python3 validate/scan_study.py --scan $(BUILD_DIR)/scan/corvane-scan --corvane $(BUILD_DIR)/corvane \
	--simulate $(BUILD_DIR)/simulate/corvane-simulate --jobs $(JOBS)
validate-scan: build
	$(SCAN_STUDY) --grid full --out $(BUILD_DIR)/validate-scan --table validate/scan_table.md --check

validate-scan-ci: build
	$(SCAN_STUDY) --grid ci --out $(BUILD_DIR)/validate-scan-ci --check

# The whole suite built with AddressSanitizer and UndefinedBehaviorSanitizer, then
# every end-to-end case under valgrind's memcheck; prints how many tests ran under each.
ASAN_BUILD_DIR ?= build-asan
check: build tsan
	cmake -S . -B $(ASAN_BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_SANITIZE=ON
	cmake --build $(ASAN_BUILD_DIR) -j $(JOBS)
	bash tests/run_check.sh $(BUILD_DIR) $(ASAN_BUILD_DIR) $(JOBS)

# The threaded path under ThreadSanitizer: the unit tests, and every end-to-end
# case with a bootstrap run on 2, 3 and 7 threads; a data race or a lock taken in
# two orders fails the test that made it. `make check` runs it first.
TSAN_BUILD_DIR ?= build-tsan
tsan:
	cmake -S . -B $(TSAN_BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_TSAN=ON
	cmake --build $(TSAN_BUILD_DIR) -j $(JOBS) --target corvane corvane_unit_tests generate_bench_data
	bash tests/run_tsan.sh $(TSAN_BUILD_DIR) $(JOBS)

# The fuzz target (clang, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer):
# `make fuzz` fuzzes for FUZZ_SECONDS from the seeds in tests/fuzz/corpus/ (FUZZ_SEED
# fixes its random choices); `make fuzz-replay` runs every seed and regression input once.
FUZZ_BUILD_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_SEED ?=
fuzz-build:
	cmake -S tests/fuzz -B $(FUZZ_BUILD_DIR) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(FUZZ_BUILD_DIR) -j $(JOBS)

fuzz: fuzz-build
	FUZZ_BUILD=$(FUZZ_BUILD_DIR) bash tests/fuzz/run_fuzz.sh fuzz $(FUZZ_SECONDS) $(FUZZ_SEED)

fuzz-replay: fuzz-build
	FUZZ_BUILD=$(FUZZ_BUILD_DIR) bash tests/fuzz/run_fuzz.sh replay

# The whole suite built for another processor with Debian's cross compilers and
# run here: cross-aarch64 (128-bit long double) under qemu-user-static,
# cross-i386 (x87 arithmetic, 4-byte pointers) under qemu-user-static too.
# The foreign development packages come through multiarch.
cross-aarch64 cross-i386: cross-%:
	$(DEPENDENCIES) run
	$(DEPENDENCIES) cross-$*
	cmake -S . -B build-$* -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$*.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-$* -j $(JOBS)
	ctest --test-dir build-$* --output-on-failure --no-tests=error -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR) build-* run
