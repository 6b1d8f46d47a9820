# Sourced by scripts/test.sh: a brief libFuzzer run over the readers of the
# service's answers (about 20 s). A longer run: FUZZ_SECONDS=600 bash scripts/test.sh,
# or bash tests/fuzz/run.sh 600 on its own.
bash "$root/tests/fuzz/run.sh" "${FUZZ_SECONDS:-20}"
