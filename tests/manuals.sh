#!/usr/bin/env bash
# The manual page says what --help says: a section for every subcommand, every option of
# every help in the page, and every option the page names in some help; and the changelog
# leads with the version the tool reports.
#   manuals.sh TOOL PAGE CHANGELOG
set -euo pipefail
tool=$1 page=$2 changelog=$3
helped=$("$tool" --help | grep -oE -- '--[a-z]+(-[a-z]+)*')
for command in $("$tool" --help | sed -n '/^Subcommands:/,$p' | awk 'NR > 1 && NF { print $1 }'); do
    grep -qx "\.SS $command" "$page" || { echo "the page has no section for $command"; exit 1; }
    options=$("$tool" "$command" --help | grep -oE -- '--[a-z]+(-[a-z]+)*' | sort -u)
    for option in $options; do
        grep -qF -- "${option//-/\\-}" "$page" || { echo "$command $option is not in the page"; exit 1; }
    done
    helped="$helped $options"
done
for option in $(grep -oE '\\-\\-[a-z]+(\\-[a-z]+)*' "$page" | tr -d '\\' | sort -u); do
    grep -qwF -- "$option" <<<"$helped" || { echo "the page names $option, which no help has"; exit 1; }
done
version=$("$tool" --version | cut -d' ' -f2)
[ "$(grep -m1 '^## ' "$changelog")" = "## $version (unreleased)" ] ||
    grep -qm1 "^## $version " "$changelog" || { echo "the changelog does not lead with $version"; exit 1; }
