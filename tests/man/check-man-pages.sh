#!/usr/bin/env bash
# Checks the man pages, which are written by hand: groff renders each without
# a warning, and lapse-cli's page holds every command and option that
# `lapse-cli --help` lists, so that the two cannot drift apart: each command
# in SYNOPSIS with every option its own --help lists, and in COMMANDS; each
# option in OPTIONS.
# Usage: check-man-pages.sh LAPSE_CLI LAPSE_CLI_PAGE [OTHER_PAGE...]
# Without groff the check is skipped (exit status 77) on a developer's
# machine and fails in CI (CI set), where scripts/packages.sh installs it.
set -euo pipefail
cli=$1
page=$2
pages=("${@:2}")

fail() {
  echo "check-man-pages: $*" >&2
  exit 1
}

if ! command -v groff >/dev/null; then
  [ -z "${CI:-}" ] || fail "groff is missing (package groff-base, see scripts/packages.sh)"
  echo "check-man-pages: groff is missing (package groff-base); skipped" >&2
  exit 77
fi

for each in "${pages[@]}"; do
  warnings=$(groff -ww -z -man "$each" 2>&1) || fail "groff cannot render $each: $warnings"
  [ -z "$warnings" ] || fail "groff warns about $each:"$'\n'"$warnings"
done

# The page as plain text: no bold, underline or overstrike.
rendered=$(groff -man -Tascii -P-cbou "$page")

# The lines of one section, from its heading to the next.
section() {
  awk -v name="$1" '/^[A-Z][A-Z ]*$/ { inside = ($0 == name); next } inside' <<<"$rendered"
}
synopsis=$(section SYNOPSIS)
commands_section=$(section COMMANDS)
options_section=$(section OPTIONS)

# The first column of the rows under a heading of --help ("Options:"): the
# lines indented by two spaces, not the wrapped lines of a description.
help_rows() {
  awk -v heading="$1" '$0 == heading { inside = 1; next } /^$/ { inside = 0 } inside' |
    grep -E '^  [^ ]' | sed -E 's/^ +//; s/ {2,}.*//'
}
# The long options a --help lists, one a line.
options_of() {
  "$cli" "$@" --help | help_rows "Options:" | grep -oE -- '--[a-z][a-z-]*' | sort -u
}

# The synopsis of a command: its lines, from "lapse-cli COMMAND" to the next
# "lapse-cli", joined into one.
synopsis_of() {
  awk -v command="$1" '
    /^ +lapse-cli/ { inside = ($2 == command) }
    inside { printf "%s ", $0 }' <<<"$synopsis"
}

# Whether text holds option as a word of its own ("--log" is not in "--no-log").
holds_option() {
  grep -qE -- "(^|[^a-z-])$2([^a-z-]|\$)" <<<"$1"
}

commands=$("$cli" --help | help_rows "Subcommands:")
[ -n "$commands" ] || fail "lapse-cli --help lists no command"
all_options=$(options_of)
for command in $commands; do
  entry=$(synopsis_of "$command")
  [ -n "$entry" ] || fail "SYNOPSIS has no lapse-cli $command"
  grep -qE "^ {7}$command( |\$)" <<<"$commands_section" || fail "COMMANDS has no $command"
  for option in $(options_of "$command"); do
    all_options+=$'\n'$option
    [ "$option" = --help ] && continue
    holds_option "$entry" "$option" || fail "the SYNOPSIS of lapse-cli $command has no $option"
  done
done
for option in $(sort -u <<<"$all_options"); do
  grep -qE -- "^ {7}(-h, )?$option( |\$)" <<<"$options_section" || fail "OPTIONS has no $option"
done
echo "check-man-pages: ${pages[*]} render cleanly; $(wc -w <<<"$commands") commands and" \
  "$(sort -u <<<"$all_options" | wc -l) options of lapse-cli are in its page"
