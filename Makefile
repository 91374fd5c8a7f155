# Short commands for the kit. Build trees live under build/.
JOBS ?= $(shell nproc)

# What building and testing need; the bench adds its comparison libraries.
TEST_PACKAGES := g++ make cmake libgtest-dev libgmock-dev googletest \
	clang libclang-rt-14-dev gcc-multilib g++-multilib \
	sg3-utils nlohmann-json3-dev util-linux groff-base qemu-user python3-jsonschema \
	python3-prometheus-client python3-yaml prometheus prometheus-node-exporter \
	qemu-system-x86 busybox-static multipath-tools udev kmod tgt open-iscsi strace \
	nagios4-core icinga2-bin icinga2-common sudo ansible-core systemd
DEMO_PACKAGES := g++ make cmake nlohmann-json3-dev util-linux
BENCH_PACKAGES := g++ make cmake libbenchmark-dev libstb-dev libfmt-dev python3 \
	nlohmann-json3-dev util-linux
PACKAGE_PACKAGES := g++ make cmake nlohmann-json3-dev rpm lintian file binutils \
	systemd cpio
PREFIX ?= /usr/local

CMAKE_TEST := -DCMAKE_BUILD_TYPE=Debug -DTSKIT_TESTS=ON -DTSKIT_SANITIZE=ON -DTSKIT_WERROR=ON
CMAKE_TEST32 := $(CMAKE_TEST) -DTSKIT_BOUNDED_ONLY=ON -DTSKIT_GTEST_FROM_SOURCE=ON \
	-DCMAKE_C_FLAGS=-m32 -DCMAKE_CXX_FLAGS=-m32
# The 32-bit tree through qemu-i386 (a kernel without IA32 emulation cannot
# run its test programs): CMake treats it as a cross build and runs every
# test program, gtest's listing of its cases included, through the emulator.
CMAKE_TEST32_QEMU := -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=i686 \
	-DCMAKE_CROSSCOMPILING_EMULATOR=$(CURDIR)/scripts/run-i386
# Set (TEST32_EMULATE=1) to run the 32-bit tests through the emulator even
# where i386 programs run; CI does, so that the fallback is proven.
TEST32_EMULATE ?=
CMAKE_FUZZ := -DCMAKE_BUILD_TYPE=Debug -DTSKIT_FUZZ=ON -DTSKIT_WERROR=ON \
	-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
CMAKE_RELEASE := -DCMAKE_BUILD_TYPE=Release
# The static programs as the tarballs ship them (optimised, no sanitizer),
# with the end-to-end scenarios registered against them.
CMAKE_TEST_STATIC := -DCMAKE_BUILD_TYPE=Release -DTSKIT_TESTS=ON -DTSKIT_STATIC=ON
STATIC_PROGRAMS := tsexTool ts_showdisk ts_showdisk-esxi tskit-capture tskit-capture-esxi
STATIC_E2E_LABELS := ^(tsextool_e2e|showdisk_e2e|esxi_e2e)$$
# The programs with ThreadSanitizer, for their runs with devices queried side
# by side (label tsan).
CMAKE_TEST_TSAN := -DCMAKE_BUILD_TYPE=Debug -DTSKIT_TESTS=ON -DTSKIT_TSAN=ON -DTSKIT_WERROR=ON
TSAN_PROGRAMS := tsexTool ts_showdisk ts_showdisk-esxi
CMAKE_BENCH := -DCMAKE_BUILD_TYPE=Release -DTSKIT_BENCH=ON

.PHONY: demo test check kernel-test release bench install package deps-demo deps-test deps-bench \
	deps-package clean

# The release tsexTool on the bundled simulated hosts: each command line,
# then what it prints; then the release ts_showdisk on the demo host, its
# ESXi build on the ESXi demo host and its Solaris build on the Solaris demo
# host. The simulated host needs root (a mount namespace).
DEMO_HOSTS := demo degraded
DEMO_COMMANDS := "show vlun" "show path" "show phypath" "show device"

demo: deps-demo
	@if [ "$$(id -u)" != 0 ]; then \
		echo "make demo runs the tools on a simulated host, which needs root."; exit 1; fi
	cmake -S . -B build/release $(CMAKE_RELEASE)
	cmake --build build/release -j $(JOBS) --target tsexTool ts_showdisk ts_showdisk-esxi \
		ts_showdisk_solaris tskit-capture sansim sansim_preload
	@for host in $(DEMO_HOSTS); do \
		for command in $(DEMO_COMMANDS); do \
			echo "# tsexTool $$command   (host: $$host)"; \
			build/release/sim/sansim run sim/topologies/$$host.json -- \
				build/release/tool/tsexTool $$command; \
			echo; \
		done; \
	done
	@echo "# tsexTool check status   (host: degraded)"
	@build/release/sim/sansim run sim/topologies/degraded.json -- \
		build/release/tool/tsexTool check status; echo
	@for command in "show phypath" "check status" "check redundancy" \
		"check failover 2102351234ABCDEF0001:A"; do \
		echo "# tsexTool $$command   (host: degraded_fc, with its FC transport classes)"; \
		build/release/sim/sansim run sim/topologies/degraded_fc.json -- \
			build/release/tool/tsexTool $$command; \
		echo; \
	done
	@echo "# ts_showdisk   (host: demo)"
	@build/release/sim/sansim run sim/topologies/demo.json -- \
		build/release/showdisk/ts_showdisk; echo
	@echo "# ts_showdisk, ESXi build   (host: esxi_demo)"
	@build/release/sim/sansim run sim/topologies/esxi_demo.json -- \
		build/release/showdisk/ts_showdisk-esxi; echo
	@echo "# ts_showdisk for Solaris   (host: solaris_demo)"
	@build/release/sim/sansim run sim/topologies/solaris_demo.json -- \
		build/release/showdisk_solaris/ts_showdisk; echo
	@echo "# tskit-capture --anonymize build/release/degraded.capture.json   (host: degraded)"
	@build/release/sim/sansim run sim/topologies/degraded.json -- \
		build/release/capture/tskit-capture --anonymize build/release/degraded.capture.json
	@echo "# tsexTool check status   (replayed: build/release/degraded.capture.json)"
	@build/release/sim/sansim run build/release/degraded.capture.json -- \
		build/release/tool/tsexTool check status; echo

deps-demo:
	@scripts/ensure-packages $(DEMO_PACKAGES)

deps-test:
	@scripts/ensure-packages $(TEST_PACKAGES)

deps-bench:
	@scripts/ensure-packages $(BENCH_PACKAGES)

deps-package:
	@scripts/ensure-packages $(PACKAGE_PACKAGES)

# Unit tests with ASan and UBSan, the 32-bit build of the bounded library and
# its tests, a fixed-length libFuzzer run of every fuzz target, and the
# end-to-end suites of tsexTool, ts_showdisk and its ESXi build once more
# against their static programs (build/test-static; the Solaris program is
# not static, and the scenarios of the allocation-refusing test builds have
# no static program: CMake names those it leaves out); and the programs built
# with ThreadSanitizer on hosts with many devices and hung paths
# (build/test-tsan); last, alone after the other trees, the real-kernel
# stage (make kernel-test).
test: deps-test
	cmake -S . -B build/fuzz $(CMAKE_FUZZ)
	cmake --build build/fuzz -j $(JOBS)
	cd build/fuzz && ctest --output-on-failure
	@if [ -z "$(TEST32_EMULATE)" ] && scripts/i386-runs; then \
		echo "32-bit tests: run natively (build/test32)"; \
		tree=build/test32; flags=""; \
	else \
		echo "32-bit tests: run through qemu-i386 (build/test32-qemu): $(if $(TEST32_EMULATE),TEST32_EMULATE is set,this kernel does not run i386 programs)"; \
		tree=build/test32-qemu; flags="$(CMAKE_TEST32_QEMU)"; \
	fi; \
	cmake -S . -B $$tree $(CMAKE_TEST32) $$flags && \
	cmake --build $$tree -j $(JOBS) && \
	cd $$tree && ctest --output-on-failure -j $(JOBS)
	cmake -S . -B build/test $(CMAKE_TEST)
	cmake --build build/test -j $(JOBS)
	cd build/test && ctest --output-on-failure -j $(JOBS)
	cmake -S . -B build/test-static $(CMAKE_TEST_STATIC)
	cmake --build build/test-static -j $(JOBS) --target $(STATIC_PROGRAMS) sansim sansim_preload
	cd build/test-static && ctest --output-on-failure -j $(JOBS) -L '$(STATIC_E2E_LABELS)'
	cmake -S . -B build/test-tsan $(CMAKE_TEST_TSAN)
	cmake --build build/test-tsan -j $(JOBS) --target $(TSAN_PROGRAMS) sansim sansim_preload
	cd build/test-tsan && ctest --output-on-failure -j $(JOBS) -L '^tsan$$'
	$(MAKE) kernel-test

# The real-kernel stage: Debian's kernel under QEMU runs the programs of
# build/test on scsi_debug LUNs multipathed by dm (tests/kernel/README.md).
# It runs alone, after the other trees; QEMU needs root for its shares.
KERNEL_PROGRAMS := tsexTool ts_showdisk tskit-capture sansim sansim_preload
kernel-test: deps-test
	cmake -S . -B build/test $(CMAKE_TEST)
	cmake --build build/test -j $(JOBS) --target $(KERNEL_PROGRAMS)
	python3 tests/kernel/run_stage.py --build build/test --work build/kernel

# The inner loop: build/test brought up to date, then the tests labelled
# check (the unit tests, the fault scenarios, the demo hosts and the
# command-line tables of every program, one capture round trip).
check: deps-test
	cmake -S . -B build/test $(CMAKE_TEST)
	cmake --build build/test -j $(JOBS)
	cd build/test && ctest --output-on-failure -j $(JOBS) -L '^check$$'

release: deps-demo
	cmake -S . -B build/release $(CMAKE_RELEASE)
	cmake --build build/release -j $(JOBS)

bench: deps-bench
	cmake -S . -B build/bench $(CMAKE_BENCH)
	cmake --build build/bench -j $(JOBS) --target bounded_bench
	build/bench/bench/bounded_bench \
		--benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
		--benchmark_min_time=0.1 --benchmark_enable_random_interleaving=true \
		--benchmark_format=json | tee build/bench/bounded_bench.json | python3 bench/ratios.py
	cmake --build build/bench -j $(JOBS) --target tsexTool ts_showdisk ts_showdisk-esxi \
		ts_showdisk_solaris sansim sansim_preload record_sizes
	@if [ "$$(id -u)" != 0 ]; then \
		echo "the scale benchmark runs the programs on simulated hosts, which needs root."; \
		exit 1; fi
	python3 bench/scale.py build/bench --json build/bench/scale.json
	python3 bench/jobs.py build/bench --json build/bench/jobs.json

# The programs into PREFIX/sbin, their manual pages into PREFIX/share/man/man8
# and the bash completion into PREFIX/share/bash-completion/completions;
# DESTDIR is honoured.
install: deps-demo
	cmake -S . -B build/release $(CMAKE_RELEASE) -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build build/release -j $(JOBS) --target tsexTool ts_showdisk tskit-capture tskit_docs
	DESTDIR=$(DESTDIR) cmake --install build/release

# The Debian package and the RPM (build/package), the static tarballs of
# tsexTool, ts_showdisk and its ESXi build (build/package/dist), then their
# checks; as root these run the tarballs' programs on the bundled simulated
# hosts, beside the package build's dynamic ones.
package: deps-package
	cmake -S . -B build/package $(CMAKE_RELEASE)
	cmake --build build/package -j $(JOBS) --target $(STATIC_PROGRAMS) tskit_docs
	cd build/package && cpack
	cmake -S . -B build/static $(CMAKE_RELEASE) -DTSKIT_STATIC=ON
	cmake --build build/static -j $(JOBS) --target $(STATIC_PROGRAMS) sansim sansim_preload
	packaging/make_tarballs.sh build/static . build/package/dist
	packaging/check_packages.sh build/package build/package/dist . build/static/sim/sansim

clean:
	rm -rf build
