#!/usr/bin/env bash
# tools/install_dependencies.sh in its dry-run mode, against a made-up package
# list and a made-up set of installed packages: which packages each goal asks
# for, and the commands for root, for a sudo user and for a user with neither.
set -u
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/list" <<'LIST'
# package   goal
compiler    run
testkit     test
compiler    test
checker     ci
tool:arm64  cross-aarch64
LIST
printf 'compiler\n' > "$work/installed"
failures=0

check() {  # label, user, goal, expected status, expected standard error
    local actual status
    actual=$(CORVANE_DEPS_LIST="$work/list" CORVANE_DEPS_INSTALLED="$work/installed" CORVANE_DEPS_USER=$2 \
             bash "$script" --dry-run "$3" 2>&1 >/dev/null)
    status=$?
    if [ "$status" != "$4" ] || [ "$actual" != "$5" ]; then
        echo "FAIL: $1: status $status (expected $4), standard error:"; echo "$actual"
        failures=$((failures + 1))
    fi
}

check "nothing missing" root run 0 ""
check "root installs what is missing" root ci 0 "install_dependencies: ci needs testkit checker
+ apt-get update
+ DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends testkit checker"
check "a sudo user goes through sudo" sudo test 0 "install_dependencies: test needs testkit
+ sudo env apt-get update
+ sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends testkit"
check "a foreign package adds its architecture" root cross-aarch64 0 "install_dependencies: cross-aarch64 needs tool:arm64
+ dpkg --add-architecture arm64
+ apt-get update
+ DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends tool:arm64"
check "neither root nor sudo: the exact commands" user test 1 "install_dependencies: test needs testkit
install_dependencies: they cannot be installed as this user (not root, no sudo); run as root:
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends testkit"
check "an unknown goal" root everything 2 "usage: $script [--dry-run] run|test|ci|cross-aarch64|cross-i386"
[ "$failures" = 0 ] && echo "install_dependencies: every case passed"
exit "$failures"
