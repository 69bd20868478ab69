#!/usr/bin/env bash
# The manual pages as man formats them: every page renders, with no warning from groff.
# Usage: man_pages_test.sh PAGE.1...
set -u
status=0
for page in "$@"; do
    warnings=$(MANWIDTH=80 man --warnings=w -E UTF-8 -l "$page" 2>&1 >/dev/null)
    rendered=$(MANWIDTH=80 man -E UTF-8 -l "$page" 2>/dev/null | wc -l)
    if [[ -n $warnings || $rendered -lt 10 ]]; then
        echo "FAIL: $page ($rendered lines): $warnings"
        status=1
    fi
done
exit $status
