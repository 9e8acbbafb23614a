#!/usr/bin/env bash
# Writes the man page of lapse-cli from the tool's own --help, so that the
# two never disagree, and the hand-written sections that follow them.
# Usage: scripts/make-man.sh LAPSE_CLI TAIL OUTPUT
set -euo pipefail
cli=$1 tail=$2 out=$3
version=$("$cli" --version | sed 's/^lapse-cli //')

# The help text as a preformatted block; roff's own characters escaped.
block() {
  printf '.PP\n.nf\n'
  "$@" | sed -e 's/\\/\\e/g' -e 's/^\./\\\&./' -e "s/^'/\\\\\&'/"
  printf '.fi\n'
}

{
  printf '.TH LAPSE-CLI 1 "December 2026" "Lapse %s" "User Commands"\n' "$version"
  printf '.SH NAME\nlapse\\-cli \\- remove time-limited content from HTML pages\n'
  printf '.SH SYNOPSIS\n'
  for command in run replace check schedule; do
    printf '.B lapse-cli %s\n.RI [ options ] " DIR"\n.br\n' "$command"
  done
  printf '.B lapse-cli unschedule\n.I DIR\n.br\n'
  printf '.B lapse-cli schedules\n.br\n'
  printf '.B lapse-cli\n.RB [ \\-\\-help | \\-\\-version ]\n'
  printf '.SH DESCRIPTION\n'
  block "$cli" --help
  for command in run replace check schedule unschedule schedules; do
    printf '.SS lapse-cli %s\n' "$command"
    block "$cli" "$command" --help
  done
  cat "$tail"
} >"$out"
