# Sourced by setup.sh and wine-session.sh: how this machine runs 32-bit x86 Linux programs
# (the 32-bit Wine loader is one).
#
# Some kernels have IA32 emulation off: every 32-bit ELF file then fails with "Exec format
# error". There the 32-bit loader runs under user-mode qemu-i386, which the kernel starts through
# binfmt_misc: machine-wide when root may register it, else in a private user namespace with a
# binfmt_misc of its own (Linux 6.7 and later). qemu must be 10.x: 7.2 ignores MAP_FIXED_NOREPLACE
# hints and Wine's address-space reservation then takes about a minute per process.
#
# QUILLBOX_EMULATE_32BIT=1 forces the emulated path on a machine that runs 32-bit code, in a
# private user namespace only, so the two paths can be checked anywhere.

QB_CACHE="${QUILLBOX_CACHE:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/quillbox}"
QB_QEMU_DIR="$QB_CACHE/qemu-user"
QB_QEMU="$QB_QEMU_DIR/qemu-i386"
QB_QEMU_MAJOR_MIN=10
QB_BINFMT_NAME="quillbox-i386"
QB_BINFMT_DIR=/proc/sys/fs/binfmt_misc
# What binfmt_misc matches: a 32-bit little-endian ELF executable or shared object for i386.
QB_I386_MAGIC='\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
QB_I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\xfc\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
QB_I386_MAGIC_HEX=7f454c4601010100000000000000000002000300

qb_forced() { [ "${QUILLBOX_EMULATE_32BIT:-0}" = "1" ]; }

# A 94-byte static i386 program that exits with status 42: whether 32-bit code runs at all
# is asked of the kernel, not guessed from its version or its log.
qb_probe32() {
  local probe="$QB_CACHE/probe-i386"
  if [ ! -x "$probe" ]; then
    mkdir -p "$QB_CACHE"
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5e\x00\x00\x00\x5e\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xc0\x40\xbb\x2a\x00\x00\x00\xcd\x80' > "$probe.$$"
    chmod +x "$probe.$$"; mv -f "$probe.$$" "$probe"
  fi
  local rc=0
  "$probe" 2>/dev/null || rc=$?
  [ "$rc" -eq 42 ]
}

# The interpreter of the enabled binfmt_misc entry that takes i386 programs, if any.
qb_registered_i386() {
  local entry
  [ -r "$QB_BINFMT_DIR/status" ] || return 0
  for entry in "$QB_BINFMT_DIR"/*; do
    case "${entry##*/}" in register|status) continue ;; esac
    grep -qx enabled "$entry" 2>/dev/null || continue
    grep -q "^magic $QB_I386_MAGIC_HEX" "$entry" 2>/dev/null || continue
    sed -n 's/^interpreter //p' "$entry"
  done | tail -n 1
}

qb_qemu_version() { "$1" --version 2>/dev/null | sed -n '1s/^qemu-i386 version \([0-9][0-9.]*\).*/\1/p'; }

qb_qemu_usable() {
  local v; v="$(qb_qemu_version "$1")"
  [ -n "$v" ] && [ "${v%%.*}" -ge "$QB_QEMU_MAJOR_MIN" ]
}

# Debian 13's qemu-user holds a static qemu-i386 10.x that runs on Debian 12 unchanged. Only that
# package is fetched, through an apt configuration of its own: the system's sources stay as they are.
qb_fetch_qemu() {
  qb_qemu_usable "$QB_QEMU" && return 0
  local work="$QB_CACHE/qemu-fetch.$$" mirror
  mirror="$(sed -n 's/^URIs: *\(http[^ ]*\/debian\)\/\?$/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)"
  mirror="${mirror:-http://deb.debian.org/debian}"
  echo "setup: fetching qemu-i386 10.x (Debian trixie's qemu-user, from $mirror) into $QB_QEMU_DIR" >&2
  rm -rf "$work"; mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$QB_QEMU_DIR"
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror trixie main" > "$work/sources.list"
  local apt=(apt-get -q -o Dir::Etc::sourcelist="$work/sources.list" -o Dir::Etc::sourceparts=-
             -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache"
             -o APT::Architectures::=amd64 -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
  if ! "${apt[@]}" update >"$work/apt.log" 2>&1 || ! (cd "$work" && "${apt[@]}" download qemu-user >>"$work/apt.log" 2>&1); then
    echo "setup: could not fetch qemu-user from trixie; apt said:" >&2; tail -n 5 "$work/apt.log" >&2
    rm -rf "$work"; return 1
  fi
  dpkg-deb --fsys-tarfile "$work"/qemu-user_*.deb | tar -xO ./usr/bin/qemu-i386 > "$QB_QEMU.$$"
  chmod 755 "$QB_QEMU.$$"; mv -f "$QB_QEMU.$$" "$QB_QEMU"
  rm -rf "$work"
  if ! qb_qemu_usable "$QB_QEMU"; then
    echo "setup: $QB_QEMU is not a qemu-i386 ${QB_QEMU_MAJOR_MIN}.x" >&2; return 1
  fi
  echo "setup: $("$QB_QEMU" --version | head -n 1)" >&2
}

# Registers qemu-i386 for i386 programs with the binfmt_misc mounted at $1 (flag F: the kernel
# opens the interpreter now, so the path need not be visible where programs later start).
# The entry registered last wins over another qemu's entry for the same programs.
qb_register() {
  local dir="$1"
  if [ ! -w "$dir/register" ]; then
    mount -t binfmt_misc binfmt_misc "$dir" 2>/dev/null || return 1
  fi
  [ -e "$dir/$QB_BINFMT_NAME" ] && { echo -1 > "$dir/$QB_BINFMT_NAME" || return 1; }
  printf ':%s:M::%s:%s:%s:F' "$QB_BINFMT_NAME" "$QB_I386_MAGIC" "$QB_I386_MASK" "$QB_QEMU" \
    > "$dir/register" 2>/dev/null
}

# How 32-bit programs run here now: "native", "qemu VERSION" (an entry of binfmt_misc), or
# "none" (they do not run, or only through a qemu too old for Wine).
qb_32bit_state() {
  if ! qb_probe32; then echo none; return; fi
  local interp; interp="$(qb_registered_i386)"
  if [ -z "$interp" ]; then echo native; return; fi
  if qb_qemu_usable "$interp"; then echo "qemu $(qb_qemu_version "$interp")"; else echo none; fi
}
