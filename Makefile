# make run:  install what is needed, build, install and run the sample program
# make test: install what is needed, build (normal and sanitizer builds) and run every test
.PHONY: run test
run:
	bash scripts/run-main.sh
test:
	bash scripts/run-tests.sh
