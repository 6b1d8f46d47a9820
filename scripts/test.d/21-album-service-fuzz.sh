# Sourced by scripts/test.sh: a brief libFuzzer run over the album service's
# multipart parser (about 15 s). Longer: MULTIPART_FUZZ_SECONDS=600, or by
# hand for a million inputs: bash tools/album-service/tests/fuzz/run.sh --runs 1000000
bash "$root/tools/album-service/tests/fuzz/run.sh" "${MULTIPART_FUZZ_SECONDS:-15}"
