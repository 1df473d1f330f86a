#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages a goal needs and the machine lacks:
#
#   tools/install_dependencies.sh [--dry-run] GOAL
#
# GOAL is run, test or ci (each includes the goals before it), cross-aarch64 or
# cross-i386; the packages come from tools/dependencies.txt. Nothing is done when
# every package is installed. Otherwise the missing ones are installed with
# apt-get, directly as root, through sudo for another user, and when neither is
# possible the script stops with the exact command to run. Foreign packages
# (name:arch) first add their architecture to dpkg. With --dry-run the commands
# are printed instead of run.
#
# For the script's own test, three variables stand in for the machine:
# CORVANE_DEPS_LIST (another package list), CORVANE_DEPS_INSTALLED (a file of the
# installed packages, one a line, instead of asking dpkg) and CORVANE_DEPS_USER
# ("root", "sudo" or "user" instead of asking id and sudo).
set -euo pipefail

here=$(dirname "$0")
list=${CORVANE_DEPS_LIST:-$here/dependencies.txt}
dry_run=0
if [ "${1:-}" = --dry-run ]; then
    dry_run=1
    shift
fi
goal=${1:-}

goals_of() {  # the goals whose packages GOAL needs
    case "$1" in
        run) echo run ;;
        test) echo run test ;;
        ci) echo run test ci ;;
        cross-aarch64 | cross-i386) echo "$1" ;;
        *) return 1 ;;
    esac
}
if ! goals=$(goals_of "$goal"); then
    echo "usage: $0 [--dry-run] run|test|ci|cross-aarch64|cross-i386" >&2
    exit 2
fi

wanted_packages() {
    local goal_of_line package
    # shellcheck disable=SC2034
    while read -r package goal_of_line _; do
        case "$package" in '' | '#'*) continue ;; esac
        for g in $goals; do
            [ "$goal_of_line" = "$g" ] && echo "$package"
        done
    done < "$list" | awk '!seen[$0]++'
}

native_architecture() {
    dpkg --print-architecture 2>/dev/null || echo amd64
}

# A package without an architecture is the machine's own (or architecture-free).
is_installed() {
    local name=${1%%:*} arch=${1#*:}
    if [ -n "${CORVANE_DEPS_INSTALLED:-}" ]; then
        grep -qxF "$1" "$CORVANE_DEPS_INSTALLED"
        return
    fi
    [ "$arch" = "$1" ] && arch=$(native_architecture)
    dpkg-query -W -f='${Architecture} ${db:Status-Status}\n' "$name" 2>/dev/null |
        grep -qE "^($arch|all) installed$"
}

# root, sudo (a user who may use sudo without a password prompt hanging a
# script with no terminal) or user.
who_installs() {
    if [ -n "${CORVANE_DEPS_USER:-}" ]; then
        echo "$CORVANE_DEPS_USER"
    elif [ "$(id -u)" = 0 ]; then
        echo root
    elif command -v sudo > /dev/null && { [ -t 0 ] || sudo -n true 2> /dev/null; }; then
        echo sudo
    else
        echo user
    fi
}

missing=()
for package in $(wanted_packages); do
    is_installed "$package" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ -z "${CORVANE_DEPS_INSTALLED:-}" ] && ! command -v apt-get > /dev/null; then
    echo "install_dependencies: not a Debian or Ubuntu machine (no apt-get); install the equivalents of:" \
         "${missing[*]}" >&2
    exit 1
fi

# The commands, one a line: new architectures first, then the package lists and the packages.
commands=()
for arch in $(printf '%s\n' "${missing[@]}" | sed -n 's/^[^:]*:\(.*\)$/\1/p' | sort -u); do
    commands+=("dpkg --add-architecture $arch")
done
commands+=("apt-get update")
commands+=("DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}")

installer=$(who_installs)
echo "install_dependencies: $goal needs ${missing[*]}" >&2
if [ "$installer" = user ]; then
    echo "install_dependencies: they cannot be installed as this user (not root, no sudo); run as root:" >&2
    for command in "${commands[@]}"; do
        echo "    $command" >&2
    done
    exit 1
fi
for command in "${commands[@]}"; do
    # sudo may refuse a variable set before the command; env sets it below sudo.
    [ "$installer" = sudo ] && command="sudo env $command"
    echo "+ $command" >&2
    [ "$dry_run" = 1 ] || eval "$command"
done
