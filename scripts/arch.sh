# Which Windows architecture the tests and the demo run in, sourced by the other scripts.
# The release is always the 32-bit (i686) program. Wine runs it only where the kernel runs 32-bit
# user code; some kernels do not (IA-32 emulation switched off), and there the same sources are
# built for x86-64 and run under 64-bit Wine instead.
#   BRIVON_ARCH=i686|x86_64   forces the choice
#   arch_host_runs_32bit       true when this kernel starts an i386 program
#   arch_choose                exports BRIVON_ARCH and says which and why, in one line
#   arch_for_tests             the architectures the whole suite runs in, one per line
#   arch_npm_folder ARCH       the 7zip-bin folder of that architecture's 7za.exe (ia32, x64)
#   arch_loader ARCH           the Wine loader that runs that architecture's programs
#   arch_prepare ROOT          deps.sh, then arch_choose; exports BRIVON_BUILD_ROOT and BRIVON_BUILD_DIR

# A complete i386 program of 93 bytes (exit(0) through int 0x80): a kernel without IA-32
# emulation refuses it with "Exec format error", as it would refuse Wine's 32-bit loader.
arch_host_runs_32bit() {
  if [ -z "${_brivon_runs_32bit:-}" ]; then
    local probe
    probe=$(mktemp "${TMPDIR:-/tmp}/brivon-i386-probe.XXXXXX")
    printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$probe"
    printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$probe"
    printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000' >>"$probe"
    printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010' >>"$probe"
    printf '\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000' >>"$probe"
    printf '\270\001\000\000\000\061\333\315\200' >>"$probe"
    chmod +x "$probe"
    if "$probe" 2>/dev/null; then _brivon_runs_32bit=yes; else _brivon_runs_32bit=no; fi
    rm -f "$probe"
  fi
  [ "$_brivon_runs_32bit" = yes ]
}

# i686 runs here: the kernel runs 32-bit code and 32-bit Wine is installed (scripts/deps.sh installs
# it where it can, so the scripts choose after deps.sh).
arch_runs_i686() {
  arch_host_runs_32bit && [ -x "$(arch_loader i686)" ]
}

arch_choose() {
  case "${BRIVON_ARCH:-}" in
    i686)
      if ! arch_host_runs_32bit; then
        echo "BRIVON_ARCH=i686, but this kernel runs no 32-bit program (Exec format error): unset it or use x86_64" >&2
        exit 1
      fi
      echo "architecture: i686 (forced by BRIVON_ARCH)" ;;
    x86_64) echo "architecture: x86_64 (forced by BRIVON_ARCH)" ;;
    "")
      if arch_runs_i686; then
        BRIVON_ARCH=i686
        echo "architecture: i686, the release's own (this kernel runs 32-bit programs)"
      elif arch_host_runs_32bit; then
        BRIVON_ARCH=x86_64
        echo "architecture: x86_64 under 64-bit Wine (32-bit Wine, Debian's wine32:i386, is not installed)"
      else
        BRIVON_ARCH=x86_64
        echo "architecture: x86_64 under 64-bit Wine (this kernel runs no 32-bit program: Exec format error)"
      fi ;;
    *)
      echo "BRIVON_ARCH must be i686 or x86_64, not '$BRIVON_ARCH'" >&2
      exit 1 ;;
  esac
  export BRIVON_ARCH
}

# Forced: that one. Otherwise every architecture this host runs, so that neither build rots.
arch_for_tests() {
  if [ -n "${BRIVON_ARCH:-}" ]; then
    echo "$BRIVON_ARCH"
  elif arch_runs_i686; then
    printf 'i686\nx86_64\n'
  else
    echo x86_64
  fi
}

arch_npm_folder() {
  case "$1" in i686) echo ia32 ;; x86_64) echo x64 ;; esac
}

arch_loader() {
  case "$1" in i686) echo /usr/lib/wine/wine ;; x86_64) echo /usr/lib/wine/wine64 ;; esac
}

# Stops with one line when the chosen loader cannot start (its package missing, or refused).
arch_check_loader() {
  local loader
  loader=$(arch_loader "$1")
  if [ ! -x "$loader" ]; then
    echo "cannot run the $1 tests: $loader is missing (Debian's $( [ "$1" = i686 ] && echo wine32:i386 || echo wine64 ) package)" >&2
    exit 1
  fi
  if ! "$loader" --version >/dev/null 2>&1; then
    echo "cannot run the $1 tests: $loader does not start on this host" >&2
    exit 1
  fi
}

# What a bench or the demo does before it builds: the tools first (a fresh clone has none yet, and
# the architecture depends on what could be installed), then the choice, then the build folders
# under BRIVON_BUILD_ROOT unless they are set.
arch_prepare() {
  local root="$1"
  export BRIVON_BUILD_ROOT="${BRIVON_BUILD_ROOT:-$root/build}"
  "$root/scripts/deps.sh" "$BRIVON_BUILD_ROOT"
  arch_choose
  export BRIVON_BUILD_DIR="${BRIVON_BUILD_DIR:-$BRIVON_BUILD_ROOT/$BRIVON_ARCH}"
}
