#!/usr/bin/env bash
# The manual page says what --help says: a section for every subcommand, every option of
# every help in the page, and every option the page names in some help; the changelog
# leads with the version the tool reports; and the completions offer what --help lists.
#   manuals.sh TOOL PAGE CHANGELOG COMPLETIONS
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

# The bash completion, made from the same definitions, offers every subcommand, every option
# of each, and the values of an option that has a set of them; the zsh one is valid zsh.
completions=$4
source "$completions/kestrune-adpcm"
offered() {
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    _kestrune_adpcm
    echo "${COMPREPLY[*]}"
}
for command in $("$tool" --help | sed -n '/^Subcommands:/,$p' | awk 'NR > 1 && NF { print $1 }'); do
    [ "$(offered kestrune-adpcm "${command:0:3}")" = "$command" ]
    for option in $("$tool" "$command" --help | grep -oE -- '--[a-z]+(-[a-z]+)*' | sort -u); do
        grep -qw -- "$option" <<<"$(offered kestrune-adpcm "$command" --)" ||
            { echo "the completion of $command does not offer $option"; exit 1; }
    done
done
[ "$(offered kestrune-adpcm encode --tune p)" = perceptual ]
[ "$(offered kestrune-adpcm pack -r '')" = "4000 5300 6400 8000 10600 12800 16000 32000" ]
[ "$(offered kestrune-adpcm encode -q 1)" = 1 ]
if command -v zsh >/dev/null; then zsh -n "$completions/_kestrune-adpcm"; fi
