#!/usr/bin/env bash
# Installs the Debian packages in build/deb on this machine, uses them as a user would, and removes them:
# the README's C++ example built against the installed library through find_package and through pkg-config,
# nbl on a file, both manual pages. Run as root (or with sudo) from the repository's root, after
#   cmake --preset deb && cmake --build --preset deb && cpack --preset deb
set -euo pipefail
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
packages=(libintset1 libintset-dev nbl numbrelle)
work=$(mktemp -d)
remove() {
  DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -qq "${packages[@]}" > /dev/null || true
  rm -rf "$work"
}
trap remove EXIT

DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends ./build/deb/*.deb > /dev/null
expected=$'odd primes: 3 5 7 11 13\nsubset: 1, count: 5\nodd teens: 2, lowest odd: -9, odds up to 0: 5\nloaded equals saved: 1'

# find_package, from the installed CMake package.
mkdir -p "$work/cmake"
cp tests/consumer/main.cpp "$work/cmake/"
cat > "$work/cmake/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(intset_user LANGUAGES CXX)
find_package(intset 1.0 CONFIG REQUIRED)
add_executable(user main.cpp)
target_link_libraries(user PRIVATE intset::intset)
CMAKE
cmake -S "$work/cmake" -B "$work/cmake/build" -G Ninja > /dev/null
cmake --build "$work/cmake/build" > /dev/null
[ "$("$work/cmake/build/user")" = "$expected" ] || { echo "the find_package build printed otherwise" >&2; exit 1; }
ldd "$work/cmake/build/user" | grep -Eq 'libintset.so.1 => /(usr/)?lib/' || { echo "not linked to the installed libintset.so.1" >&2; exit 1; }

# pkg-config and a plain compiler call.
g++ tests/consumer/main.cpp $(pkg-config --cflags --libs intset) -o "$work/user-pc"
[ "$("$work/user-pc")" = "$expected" ] || { echo "the pkg-config build printed otherwise" >&2; exit 1; }

# The tool and the manual pages.
nbl --version | grep -qx "nbl $(dpkg-query -W -f='${Version}' nbl)"
printf '5\n-3\n' > "$work/a.txt"
nbl convert "$work/a.txt" "$work/a.nbl"
[ "$(nbl check "$work/a.nbl")" = ok ]
for page in nbl numbrelle; do
  MANWIDTH=80 man -l "/usr/share/man/man1/$page.1.gz" 2> "$work/man-warnings" | grep -q "^NAME"
  [ ! -s "$work/man-warnings" ] || { cat "$work/man-warnings" >&2; exit 1; }
done
[ -x /usr/bin/numbrelle ] && [ -f /usr/share/applications/numbrelle.desktop ]
echo "the packages install, build the example both ways, run nbl and show both manual pages"
