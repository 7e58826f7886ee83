#!/usr/bin/env bash
# Builds the Qt 6.4.2 for Windows (mingw-w64, x86-64) that kav-update.exe links against, from Debian's qt6-base
# and sqlite3 sources, for when the prebuilt copy is not at hand. Done once: later runs find PREFIX and reuse it.
# Usage: scripts/build-windows-qt.sh PREFIX
#   Sources and the build go to PREFIX.build, which is removed once the install succeeded; a failed run keeps
#   it, and the next run goes on from the unpacked sources and the half-done build. About 30 minutes on 2 cores.
#   KAV_QT_STOP_AFTER_CONFIGURE=1 stops right after Qt's configure: for checking this script without the compile.
#   KAV_QT_JOBS sets the compile's parallelism (default: nproc).
set -euo pipefail

qt_version="6.4.2+dfsg-10"
sqlite_upstream="3.40.1"

die() {
  echo "build-windows-qt: $*" >&2
  exit 1
}

if [ $# -ne 1 ] || [ -z "$1" ]; then
  die "usage: $0 PREFIX"
fi
mkdir -p "$(dirname "$1")"
prefix="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
if [ -f "$prefix/lib/cmake/Qt6/Qt6Config.cmake" ]; then
  echo "Windows Qt already built in $prefix"
  exit 0
fi

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
toolchain="$repo/cmake/mingw-toolchain.cmake"
[ -f "$toolchain" ] || die "missing $toolchain"
work="$prefix.build"
logs="$work/logs"
jobs="${KAV_QT_JOBS:-$(nproc)}"

step=""
trap 'echo "build-windows-qt: failed while ${step:-starting}; work folder kept: $work" >&2' ERR

started=$SECONDS
step_started=$SECONDS
timings=()
begin() {
  step="$1"
  step_started=$SECONDS
  echo "== $step"
}
done_step() {
  timings+=("$(printf '%-26s %4ds' "$step" $((SECONDS - step_started)))")
}
report_times() {
  printf '  %s\n' "${timings[@]}"
  echo "Total: $(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s"
}

# Runs a command with its output in logs/NAME.log; on failure shows the log's end, since the cause is usually there.
run_logged() {
  local name="$1"
  shift
  if ! "$@" >"$logs/$name.log" 2>&1; then
    tail -n 40 "$logs/$name.log" >&2
    echo "build-windows-qt: '$*' failed; whole output in $logs/$name.log" >&2
    return 1
  fi
}

begin "checking packages"
bash "$repo/packaging/install-deps.sh" --windows-qt
done_step

# A marker says the sources are unpacked and complete; without it whatever is there is a broken start.
if [ ! -f "$work/sources-ready" ]; then
  rm -rf "$work"
  mkdir -p "$logs" "$work/src"

  # The system lists only binary packages. The deb-src twins of its sources, with the lists and cache kept in the
  # work folder, fetch the sources without touching the system's apt setup (nor needing root).
  begin "source lists"
  apt_dir="$work/apt"
  mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  : >"$apt_dir/sources.list"
  shopt -s nullglob
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    if [ -f "$f" ]; then
      sed -nE 's/^[[:space:]]*deb[[:space:]]+/deb-src /p' "$f" >>"$apt_dir/sources.list"
    fi
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    sed -E 's/^Types:.*/Types: deb-src/' "$f" >"$apt_dir/sources.list.d/$(basename "$f")"
  done
  shopt -u nullglob
  apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache")
  # As root apt downloads as _apt, which may not reach a folder under root's home.
  [ "$(id -u)" -ne 0 ] || apt_opts+=(-o APT::Sandbox::User=root)
  run_logged apt-update apt-get "${apt_opts[@]}" update
  done_step

  begin "downloading sources"
  sqlite_version="$(apt-cache "${apt_opts[@]}" showsrc sqlite3 | sed -n 's/^Version: //p' |
    grep -F "$sqlite_upstream-" | sort -V | tail -n 1 || true)"
  [ -n "$sqlite_version" ] || die "no sqlite3 $sqlite_upstream source on the configured mirrors"
  echo "qt6-base $qt_version, sqlite3 $sqlite_version"
  (cd "$work/src" && run_logged apt-source-qt apt-get "${apt_opts[@]}" source "qt6-base=$qt_version")
  (cd "$work/src" && run_logged apt-source-sqlite apt-get "${apt_opts[@]}" source "sqlite3=$sqlite_version")
  done_step

  qt_src="$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)"
  sqlite_src="$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'sqlite3-*' | head -n 1)"
  [ -x "$qt_src/configure" ] || die "qt6-base source did not unpack as expected in $work/src"
  [ -x "$sqlite_src/configure" ] || die "sqlite3 source did not unpack as expected in $work/src"

  # Debian's qtbase has the bundled SQLite removed; -qt-sqlite wants it back, as the amalgamation.
  begin "SQLite amalgamation"
  (cd "$sqlite_src" && run_logged sqlite-configure ./configure && run_logged sqlite-make make sqlite3.c)
  mkdir -p "$qt_src/src/3rdparty/sqlite"
  cp "$sqlite_src/sqlite3.c" "$sqlite_src/sqlite3.h" "$qt_src/src/3rdparty/sqlite/"
  done_step

  echo "$qt_src" >"$work/sources-ready"
fi
qt_src="$(cat "$work/sources-ready")"
mkdir -p "$logs" "$work/build"
cd "$work/build"

begin "configuring Qt"
multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
# -no-feature-tabletevent: Debian removed the Windows tablet header. direct2d stays on, or PrintSupport fails
# to link; FreeType is what the offscreen plugin draws with.
run_logged qt-configure "$qt_src/configure" -prefix "$prefix" -xplatform win32-g++ -qt-host-path /usr -release \
  -shared -nomake examples -nomake tests -no-opengl -no-icu -no-dbus -no-feature-vulkan -no-feature-network \
  -no-feature-testlib -no-feature-tabletevent -no-feature-androiddeployqt -sql-sqlite -qt-sqlite -no-sql-odbc \
  -no-sql-psql -no-sql-mysql -no-sql-ibase -no-sql-oci -no-sql-db2 -qt-zlib -qt-pcre -qt-libpng -qt-libjpeg \
  -qt-harfbuzz -qt-freetype -- -G Ninja "-DCMAKE_TOOLCHAIN_FILE=$toolchain" \
  "-DQT_HOST_PATH_CMAKE_DIR=/usr/lib/$multiarch/cmake"
[ -f config.summary ] && cat config.summary
done_step

if [ "${KAV_QT_STOP_AFTER_CONFIGURE:-0}" = 1 ]; then
  echo "Stopped after configure; build folder: $work/build"
  report_times
  exit 0
fi

begin "compiling Qt"
cmake --build . --parallel "$jobs"
done_step

begin "installing Qt"
run_logged qt-install cmake --install .
[ -f "$prefix/lib/cmake/Qt6/Qt6Config.cmake" ] || die "install finished without $prefix/lib/cmake/Qt6/Qt6Config.cmake"
done_step

cd /
rm -rf "$work"
echo "Windows Qt installed in $prefix"
report_times
