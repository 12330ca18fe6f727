# The two commands of the README. Both install what they lack (Debian 12, as root).
.PHONY: test demo build package soak bench clean format

test:
	tools/test.sh

demo:
	tools/demo.sh

build:
	tools/build.sh

# Not part of test: korvel restarting a hanging Tamrix double for SOAK_S seconds (default 600);
# SOAK_MODE=slow-start makes the double start slower than korvel waits.
soak:
	tools/soak.sh

# Not part of test: how long hang_stack holds a thread and the whole step, over 25 hangs.
bench:
	tools/bench.sh

# The release zip (stripped executables, korvel.ini, the logon tasks, README, integrator kit) and
# the Windows Installer package (korvel-<version>-x64.msi) in build/cross.
package: build
	cd build/cross && cpack -G ZIP && cmake --build . --target msi

format:
	clang-format -i $$(git ls-files '*.h' '*.cpp')

clean:
	rm -rf build
