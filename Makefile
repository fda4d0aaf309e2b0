# The two entry points of the README. Both install what they need first.
.PHONY: run test build package deps-run deps-package deps-test screenshot clean

JOBS ?= $(shell nproc)

run: deps-run build
	./build/default/pelorin

test: deps-test
	scripts/run-tests.sh

build:
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS)

# The Debian packages of the optimised build: build/default/pelorin-agent_<version>_<arch>.deb
# (the agent and the helper) and build/default/pelorin_<version>_<arch>.deb (the window)
package: deps-package
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS) --target package

deps-run:
	scripts/install-deps.sh run

deps-package:
	scripts/install-deps.sh package

deps-test:
	scripts/install-deps.sh test

screenshot: deps-test build
	scripts/screenshot.sh docs/main-window.png

clean:
	rm -rf build
