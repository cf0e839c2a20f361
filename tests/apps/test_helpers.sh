# Shared by the command-line host's shell tests (sourced): a scratch folder,
# counted checks and the summary that decides the exit status.
work="$(mktemp -d)"
passed=0
failed=0

check() {  # check NAME CONDITION-COMMAND...
  local name="$1"
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name" >&2
  fi
}

finish() {  # the last line of a test: prints the counts, fails on any failure
  echo "$passed passed, $failed failed"
  test "$failed" -eq 0
}
