#!/usr/bin/env bash
# Creates (once) and caches a Debian testing root holding CPython 3.14, a C++23
# compiler, CMake, GoogleTest, Google Benchmark, clang, the libraries of the mzML
# writer and the Python packages of the tests (toolchain-packages.txt,
# toolchain-pip.txt for what Debian lacks, and toolchain-pip-replace.txt for what
# Debian ships incomplete); `run` executes a command inside it with the checkout
# bind-mounted at the same path.
#
#   scripts/toolchain.sh ensure        build the root unless it is current
#   scripts/toolchain.sh run CMD...    run CMD in the root (or natively, see below)
#   scripts/toolchain.sh path          print the root's location
#
# TARNVALE_TOOLCHAIN=native forces the host's own tools, =root forces the root;
# unset, the host is used when it already has everything the build needs.
# A command in the root starts from a clean environment: only the basics and the
# project's own variables (project_variables) cross into it.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/.." && pwd)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/tarnvale
root=$cache/toolchain-root
packages_file=$here/toolchain-packages.txt
pip_file=$here/toolchain-pip.txt
pip_replace_file=$here/toolchain-pip-replace.txt

log() { printf 'toolchain: %s\n' "$*" >&2; }

packages() { grep -v '^\s*#' "$packages_file" | grep -v '^\s*$'; }

pip_packages() { grep -v '^\s*#' "$pip_file" | grep -v '^\s*$'; }

pip_replacements() { grep -v '^\s*#' "$pip_replace_file" | grep -v '^\s*$'; }

wanted_stamp() { { packages; pip_packages; pip_replacements; echo "suite-fallback-v1"; } | sha256sum | cut -d' ' -f1; }

# The certificate authorities the host trusts, so that pip inside the root can
# reach the package index through whatever the host's network requires.
host_ca_bundle() {
    local candidate
    for candidate in "${SSL_CERT_FILE:-}" "${PIP_CERT:-}" /etc/ssl/certs/ca-certificates.crt; do
        [ -n "$candidate" ] && [ -f "$candidate" ] && { printf '%s\n' "$candidate"; return 0; }
    done
    return 1
}

# Copies the host's resolver setup and CA bundle into the root; prints the
# bundle's path inside the root (empty when the host has none).
share_host_network() {
    local target=$1 bundle
    cp /etc/resolv.conf "$target/etc/resolv.conf" 2>/dev/null || true
    if bundle=$(host_ca_bundle); then
        mkdir -p "$target/etc/ssl/host"
        cp "$bundle" "$target/etc/ssl/host/ca-bundle.crt" && echo /etc/ssl/host/ca-bundle.crt
    fi
}

# The Debian mirror this host already uses; never hard-coded.
host_mirror() {
    local uri=""
    if compgen -G '/etc/apt/sources.list.d/*.sources' >/dev/null; then
        uri=$(awk 'tolower($1)=="uris:" {for (i = 2; i <= NF; i++) print $i}' \
            /etc/apt/sources.list.d/*.sources | grep -v -i security | grep -i debian | head -n1 || true)
    fi
    if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
        uri=$(awk '$1=="deb" {for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) {print $i; break}}' \
            /etc/apt/sources.list | grep -v -i security | head -n1 || true)
    fi
    [ -n "$uri" ] || { log "no Debian mirror found in the host's apt sources"; return 1; }
    printf '%s\n' "${uri%/}"
}

host_is_enough() {
    command -v python3.14 >/dev/null 2>&1 || return 1
    python3.14 -c 'import sysconfig, os, sys; sys.exit(0 if os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")) else 1)' 2>/dev/null || return 1
    python3.14 -c 'import pytest' 2>/dev/null || return 1
    command -v cmake >/dev/null 2>&1 || return 1
    local v; v=$(cmake --version | head -n1 | awk '{print $3}')
    [ "$(printf '%s\n3.25\n' "$v" | sort -V | head -n1)" = "3.25" ] || return 1
    command -v ninja >/dev/null 2>&1 || return 1
    local header
    for header in gtest/gtest.h libdeflate.h simdutf.h openssl/evp.h; do
        [ -f "/usr/include/$header" ] || [ -f "/usr/local/include/$header" ] || return 1
    done
    echo '#include <expected>
#include <format>
int main() { std::expected<int, int> e{1}; return *e - 1 + (int)std::format("{}", 0).size() - 1; }' |
        ${CXX:-c++} -std=c++23 -x c++ - -o /dev/null 2>/dev/null || return 1
}

use_root() {
    case "${TARNVALE_TOOLCHAIN:-}" in
        native) return 1 ;;
        root) return 0 ;;
        "") ! host_is_enough ;;
        *) log "TARNVALE_TOOLCHAIN must be 'native' or 'root'"; exit 2 ;;
    esac
}

install_in_root() {
    local target=$1 ca
    ca=$(share_host_network "$target")
    # shellcheck disable=SC2046
    chroot "$target" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
        bash -c 'apt-get update -q && apt-get install -y -q --no-install-recommends "$@" && apt-get clean' \
        _ $(packages)
    # shellcheck disable=SC2046
    chroot "$target" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
        ${ca:+SSL_CERT_FILE=$ca PIP_CERT=$ca} \
        python3 -m pip install -q --no-cache-dir --break-system-packages --root-user-action=ignore $(pip_packages)
    # pip cannot uninstall a Debian package; these go beside it, ahead on the path.
    # shellcheck disable=SC2046
    chroot "$target" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
        ${ca:+SSL_CERT_FILE=$ca PIP_CERT=$ca} \
        python3 -m pip install -q --no-cache-dir --break-system-packages --root-user-action=ignore \
        --ignore-installed --no-deps $(pip_replacements)
}

# Mirrors may serve frozen snapshots whose Release files have expired.
configure_apt() {
    local target=$1 mirror=$2 suite=$3
    printf 'deb %s %s main\n' "$mirror" "$suite" >"$target/etc/apt/sources.list"
    printf 'Acquire::Check-Valid-Until "false";\n' >"$target/etc/apt/apt.conf.d/99tarnvale"
}

build_root() {
    local mirror suite tmp
    mirror=$(host_mirror)
    command -v debootstrap >/dev/null 2>&1 || {
        log "installing debootstrap on the host"
        apt-get update -q >&2 && DEBIAN_FRONTEND=noninteractive apt-get install -y -q debootstrap >&2
    }
    for suite in testing sid; do
        tmp=$cache/toolchain-root.new
        rm -rf "$tmp"
        mkdir -p "$tmp"
        log "bootstrapping Debian $suite into $tmp"
        if debootstrap --variant=minbase "$suite" "$tmp" "$mirror" >"$cache/debootstrap.log" 2>&1 &&
            configure_apt "$tmp" "$mirror" "$suite" &&
            unshare -m bash -c "mount -t proc proc '$tmp/proc' && $(declare -f install_in_root packages pip_packages pip_replacements host_ca_bundle share_host_network); packages_file='$packages_file'; pip_file='$pip_file'; pip_replace_file='$pip_replace_file'; install_in_root '$tmp'" \
                >>"$cache/debootstrap.log" 2>&1; then
            wanted_stamp >"$tmp/.tarnvale-stamp"
            rm -rf "$root"
            mv "$tmp" "$root"
            log "root ready ($suite)"
            return 0
        fi
        log "Debian $suite failed; see $cache/debootstrap.log"
        tail -n 20 "$cache/debootstrap.log" >&2 || true
    done
    return 1
}

ensure() {
    use_root || return 0
    mkdir -p "$cache"
    exec 9>"$cache/.lock"
    flock 9
    if [ -f "$root/.tarnvale-stamp" ] && [ "$(cat "$root/.tarnvale-stamp")" = "$(wanted_stamp)" ]; then
        return 0
    fi
    [ "$(id -u)" = 0 ] || { log "building the root needs root privileges"; exit 1; }
    build_root
}

# NAME=VALUE for each variable of the project set on the host, each ended by a NUL:
# every TARNVALE_* (TARNVALE_TOOLCHAIN is set anew inside) and those the benchmarks in
# bench/ read. A new variable read inside the root is named TARNVALE_* or added here.
project_variables() {
    local name
    for name in $(compgen -e); do
        case $name in
            TARNVALE_TOOLCHAIN) ;;
            TARNVALE_* | SCANS | SCANS_SMALL | SCANS_LARGE | POINTS | ROUNDS) printf '%s=%s\0' "$name" "${!name}" ;;
        esac
    done
}

run_in_root() {
    local cwd=$PWD ca variables
    [ "$(id -u)" = 0 ] || { log "running in the root needs root privileges"; exit 1; }
    ca=$(share_host_network "$root")
    mapfile -d '' -t variables < <(project_variables)
    # A private mount namespace: the bind mounts vanish with the command.
    exec unshare -m bash -c '
        set -e
        root=$1 top=$2 cwd=$3 ca=$4 count=$5; shift 5
        variables=("${@:1:count}"); shift "$count"
        mount --make-rprivate /
        mount -t proc proc "$root/proc"
        # Read-only: what the kernel offers (transparent huge pages, for one) is read
        # there. Optional: without it the programs only assume less.
        mkdir -p "$root/sys"
        mount -t sysfs -o ro sysfs "$root/sys" || true
        mount --rbind /dev "$root/dev"
        mount -t tmpfs tmpfs "$root/tmp"
        # After /tmp, so that a checkout under /tmp is not hidden by it.
        mkdir -p "$root$top"
        mount --bind "$top" "$root$top"
        exec chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
            LANG=C.UTF-8 TERM="${TERM:-dumb}" CI="${CI:-}" "${variables[@]}" TARNVALE_TOOLCHAIN=native \
            ${ca:+SSL_CERT_FILE=$ca PIP_CERT=$ca} \
            bash -c "cd \"\$0\" && exec \"\$@\"" "$cwd" "$@"
    ' _ "$root" "$top" "$cwd" "$ca" "${#variables[@]}" "${variables[@]}" "$@"
}

case "${1:-}" in
    ensure) ensure ;;
    path) echo "$root" ;;
    run)
        shift
        ensure
        # The lock guards building the root only: a command that kept it would make
        # every other command wait for it to finish.
        exec 9>&-
        if use_root; then run_in_root "$@"; else exec "$@"; fi
        ;;
    *) echo "usage: $0 ensure | run CMD... | path" >&2; exit 2 ;;
esac
