#!/usr/bin/env bash
# One identity for the three programs: one version line each, from one place
# (the same as CITATION.cff's); one error form, "PROGRAM: error: ..."; corvane
# --help naming the other two and the installed documentation; and an install
# in a temporary prefix holding the programs, their manual pages, LICENSE,
# CITATION.cff and every file README links to.
#
#   identity.sh SOURCE_DIR BUILD_DIR DOC_DIR MAN_PAGES(0|1) CORVANE PREPARE SIMULATE
set -u
source_dir=$1 build_dir=$2 doc_dir=$3 man_pages=$4
shift 4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

version=$(sed -n 's/^version: "\(.*\)"$/\1/p' "$source_dir/CITATION.cff")
first_line=""
for program in "$@"; do
    name=$(basename "$program")
    line=$("$program" --version | head -n 1)
    [[ "$line" =~ ^$name\ ([0-9.]+)(\ \(commit\ [0-9a-f+a-z]+\))?$ ]] || fail "$name --version: $line"
    [ "${BASH_REMATCH[1]:-}" = "$version" ] || fail "$name --version: not CITATION.cff's version $version: $line"
    [ -z "$first_line" ] && first_line=${line#"$name"}
    [ "${line#"$name"}" = "$first_line" ] || fail "$name --version differs from corvane's: $line"
    "$program" --no-such-option > /dev/null 2> "$work/stderr"
    [ $? = 2 ] || fail "$name --no-such-option: not a usage error"
    head -n 1 "$work/stderr" | grep -q "^$name: error: " || fail "$name: the error reads $(head -n 1 "$work/stderr")"
done

help=$("$1" --help)
for wanted in corvane-prepare corvane-simulate "$doc_dir"; do
    grep -q -F -- "$wanted" <<< "$help" || fail "corvane --help does not name $wanted"
done

prefix="$work/prefix"
cmake --install "$build_dir" --prefix "$prefix" > /dev/null || fail "the install failed"
docs="$prefix/share/doc/corvane"
for file in bin/corvane bin/corvane-prepare bin/corvane-simulate share/doc/corvane/LICENSE \
            share/doc/corvane/CITATION.cff share/doc/corvane/README.md; do
    [ -f "$prefix/$file" ] || fail "$file is not installed"
done
if [ "$man_pages" = 1 ]; then
    for program in "$@"; do
        name=$(basename "$program")
        page="$prefix/share/man/man1/$name.1"
        grep -q "^\.TH \"\?${name^^}\"\? " "$page" 2>/dev/null || fail "no manual page $name.1"
        grep -q -F -- '\-\-version' "$page" 2>/dev/null || fail "$name.1 does not hold the options"
    done
fi
# The targets of README's links ](target), as installed beside it.
grep -o '](\([^)#]*\))' "$docs/README.md" | sed 's/^](\(.*\))$/\1/' | grep -v '://' | while read -r target; do
    [ -e "$docs/$target" ] || echo "$target"
done > "$work/dangling"
[ -s "$work/dangling" ] && fail "README's links lead nowhere once installed: $(tr '\n' ' ' < "$work/dangling")"
[ "$failures" = 0 ] && echo "identity: every check passed"
exit "$failures"
