# The two commands of the README. Both install what they lack (Debian 12, as root).
.PHONY: test demo build clean format

test:
	tools/test.sh

demo:
	tools/demo.sh

build:
	tools/ensure-deps.sh
	cmake --preset cross
	cmake --build --preset cross

format:
	clang-format -i $$(git ls-files '*.h' '*.cpp')

clean:
	rm -rf build
