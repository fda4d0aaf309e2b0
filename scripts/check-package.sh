#!/usr/bin/env bash
# Checks the Debian packages of the default build (pelorin-agent, what a server needs, and
# pelorin, the window) the way a user's machine meets them: lintian; a dry unpacking into a fresh
# root with every file checked; the desktop entry and the metainfo
# validated with the capture file types they declare; the installed program's start-up and
# command line; a real installation whose postinst makes the group and grants the helper, with
# the README's commands, and whose desktop triggers make Pelorin the program that opens capture
# files; and a purge that leaves nothing behind.
# Build the package first (make package). Needs root (dpkg --root, a private mount namespace);
# skips with a reason otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
  echo "check-package: skipped, needs root for dpkg --root and mount namespaces"
  exit 0
fi

id=org.example.pelorin
caps=cap_dac_read_search,cap_net_admin,cap_net_raw,cap_sys_ptrace=p  # the helper's, in getcap's order
helper=usr/libexec/pelorin/pelorin-helper
agent=usr/libexec/pelorin/pelorin-agent
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/default/CMakeCache.txt)
deb=build/default/pelorin_${version}_$(dpkg --print-architecture).deb
deb_agent=build/default/pelorin-agent_${version}_$(dpkg --print-architecture).deb
work=$(mktemp -d)
root=$work/root
pid=
cleanup() {
  [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

checks=0
ok() { checks=$((checks + 1)); echo "ok: $*"; }
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# Everything the package puts on a machine, each file with its mode.
expected_files() {
  echo "755 usr/bin/pelorin"
  echo "755 $agent"
  echo "755 $helper"
  echo "644 usr/share/applications/$id.desktop"
  echo "644 usr/share/metainfo/$id.metainfo.xml"
  echo "644 usr/share/mime/packages/$id.xml"
  for size in 16 22 24 32 48 64 128 256; do
    echo "644 usr/share/icons/hicolor/${size}x${size}/apps/$id.png"
  done
  echo "644 usr/share/icons/hicolor/scalable/apps/$id.svg"
  echo "644 usr/share/man/man1/pelorin.1.gz"
  echo "644 usr/share/pelorin/rdap/dns.json"
  echo "644 usr/share/doc/pelorin/copyright"
  echo "644 usr/share/doc/pelorin/changelog.gz"
  echo "644 usr/share/doc/pelorin-agent/copyright"
  echo "644 usr/share/doc/pelorin-agent/changelog.gz"
}

installed_files() {
  (cd "$root" && find . -path ./var/lib/dpkg -prune -o -type d -o -printf '%m %P\n') | sort
}

for d in "$deb_agent" "$deb"; do
  [ -f "$d" ] || fail "$d not built (make package)"
  echo "package: $d, $(stat -c %s "$d") bytes"
done

# lintian: no error and no warning. It runs unprivileged, as it asks.
cp "$deb_agent" "$deb" "$work/"
chmod 0755 "$work"
setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME=/tmp \
  lintian --fail-on error,warning "$work/$(basename "$deb_agent")" "$work/$(basename "$deb")" ||
  fail "lintian"
ok "lintian, both packages"

# A dry unpacking into an empty root (the postinst needs a real system: see below).
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --force-depends --unpack "$deb_agent" "$deb" >"$work/dpkg.log" 2>&1 || {
  cat "$work/dpkg.log"
  fail "dpkg --root --unpack"
}
diff -u <(expected_files | sort) <(installed_files) || fail "installed files differ"
[ -z "$(find "$root" -path "$root/var" -prune -o \( -perm /6022 -o ! -user root \) -print)" ] ||
  fail "a file is setuid, setgid, writable by others or not root's"
[ -z "$(getcap -r "$root")" ] || fail "the package's files carry capabilities before its postinst"
for size in 16 22 24 32 48 64 128 256; do
  file "$root/usr/share/icons/hicolor/${size}x${size}/apps/$id.png" |
    grep -q "PNG image data, $size x $size," || fail "the ${size}x${size} icon is not $size px"
done
file "$root/usr/share/icons/hicolor/scalable/apps/$id.svg" | grep -q 'SVG Scalable Vector' ||
  fail "the scalable icon is not SVG"
# ... and the icons show the program's own drawing: each PNG as this tree paints it (within the
# tolerance for another machine's painter), the SVG as this tree writes it.
icons=()
for size in 16 22 24 32 48 64 128 256; do
  icons+=("$root/usr/share/icons/hicolor/${size}x${size}/apps/$id.png")
done
build/default/tools/make_images --compare "${icons[@]}" >/dev/null 2>"$work/icons.log" || {
  cat "$work/icons.log"
  fail "an installed icon is not the program's drawing"
}
build/default/tools/make_images "$work/painted" 2>/dev/null
cmp -s "$root/usr/share/icons/hicolor/scalable/apps/$id.svg" "$work/painted/icons/scalable.svg" ||
  fail "the scalable icon is not what make_images writes"
ok "installed files, modes, no capability, icons as painted"

# The privileged helper starts no program (its capture child is a fork of its own, never an
# exec) and holds none of the window's client code.
spawns=$(nm -D --undefined-only "$root/$helper" | awk '{ print $2 }' |
  grep -E '^(posix_spawn|exec[lv]|fexecve|system|popen)' || true)
[ -z "$spawns" ] || fail "the helper can start a program: $spawns"
! nm -C build/default/pelorin-helper | grep -q -E 'HelperCall|UseHelperAt' ||
  fail "the helper links the window's helper client"
ok "the helper starts no program and links no client code"

# Whois on a server: the installed agent finds the shipped RDAP bootstrap from its own folder.
found=
for relative in $(strings "$root/$agent" | grep '/rdap/dns.json$'); do
  [ -f "$(dirname "$root/$agent")/$relative" ] && found=$relative
done
[ -n "$found" ] || fail "the installed agent does not find the shipped RDAP bootstrap"
ok "the installed agent finds the shipped RDAP bootstrap at $found"

# One version everywhere: the build, the package, the changelog and the newest release.
for d in "$deb_agent" "$deb"; do
  [ "$(dpkg-deb -f "$d" Version)" = "$version" ] || fail "$d: package version is not $version"
done
changelog=$(zcat "$root/usr/share/doc/pelorin/changelog.gz" | dpkg-parsechangelog -l - -S Version)
[ "$changelog" = "$version" ] || fail "changelog's newest entry is $changelog, not $version"
release=$(grep -o -m1 '<release version="[^"]*"' "$root/usr/share/metainfo/$id.metainfo.xml")
[ "$release" = "<release version=\"$version\"" ] || fail "metainfo's newest release: $release"
ok "version $version in the package, its changelog and its metainfo"

# The dependencies resolve on this system, and cover every library the program links.
apt-get install --simulate -qq "./$deb_agent" "./$deb" >"$work/apt.log" 2>&1 || {
  cat "$work/apt.log"
  fail "the packages' dependencies do not resolve"
}
depends=$(dpkg-deb -f "$deb" Depends)
agent_depends=$(dpkg-deb -f "$deb_agent" Depends)
# The library of this architecture: another's (a 32-bit libm) may be installed beside it.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
# Every library a binary links comes from a package its own package depends on.
covered() {
  local list=$1
  shift
  for lib in $(objdump -p "$@" | awk '$1 == "NEEDED" { print $2 }' | sort -u); do
    owner=$(dpkg -S "*/$multiarch/$lib" | sed -n '1s/[:,].*//p') || fail "$lib belongs to no package"
    [[ ", $list" == *", $owner "* || ", $list," == *", $owner,"* ]] ||
      fail "$lib comes from $owner, which Depends lacks: $list"
  done
}
covered "$depends" "$root/usr/bin/pelorin"
covered "$agent_depends" "$root/$helper" "$root/$agent"
[[ "$depends" == *"pelorin-agent (= $version)"* ]] || fail "pelorin does not depend on its agent"
[[ "$depends" == *qt6-qpa-plugins* ]] || fail "Depends lacks the Qt platform plugins"
[[ "$agent_depends" == *adduser* && "$agent_depends" == *libcap2-bin* ]] ||
  fail "pelorin-agent's Depends lacks the postinst's tools"
# A server installs the agent alone: nothing of Qt, no desktop.
[[ "$agent_depends" != *qt6* && "$agent_depends" != *libx* ]] ||
  fail "pelorin-agent depends on a desktop's libraries: $agent_depends"
[[ "$(dpkg-deb -f "$deb" Recommends)" == *qt6-wayland* ]] ||
  fail "Recommends lacks Qt's Wayland platform plugin"
[[ "$(dpkg-deb -f "$deb" Recommends)" == *openssh-client* ]] || fail "Recommends lacks the ssh client"
ok "Depends: pelorin: $depends; pelorin-agent: $agent_depends"

desktop=$root/usr/share/applications/$id.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -qx "Icon=$id" "$desktop" || fail "the desktop entry does not name the icon $id"
appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml" || fail "appstreamcli"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" \
  "$root/usr/share/metainfo/$id.metainfo.xml" || fail "the metainfo does not launch $id.desktop"
strings -e l "$root/usr/bin/pelorin" | grep -qx "$id" || fail "the program does not carry the id $id"
# The capture files the program opens: both types in the entry, which hands the program their
# paths, and in the metainfo; the type the desktop's own database lacks, in the package's.
mime_types="application/vnd.tcpdump.pcap application/x-pcapng"
grep -qx 'Exec=pelorin %F' "$desktop" || fail "the desktop entry does not pass the files"
for type in $mime_types; do
  grep -qx "MimeType=.*$type;.*" "$desktop" || fail "the desktop entry lacks $type"
  grep -q "<mediatype>$type</mediatype>" "$root/usr/share/metainfo/$id.metainfo.xml" ||
    fail "the metainfo lacks $type"
  grep -q "type=\"$type\"" /usr/share/mime/packages/freedesktop.org.xml \
    "$root/usr/share/mime/packages/$id.xml" || fail "no MIME database declares $type"
done
ok "desktop entry and metainfo valid, one id $id, capture files $mime_types"

# The installed program starts: splash, main window, event loop, and no complaint on stderr.
mkdir -m 0700 "$work/run"
env -i PATH=/usr/bin:/bin HOME="$work/run" XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen \
  "$root/usr/bin/pelorin" >"$work/start.log" 2>&1 &
pid=$!
sleep 3
kill -0 "$pid" 2>/dev/null || {
  cat "$work/start.log"
  fail "the installed program did not start"
}
kill "$pid"
wait "$pid" 2>/dev/null || true
pid=
# The offscreen platform itself notes that it cannot raise windows nor pass on a window's size
# limits; nothing else may appear.
if grep -vx -e 'This plugin does not support raise()' \
  -e 'This plugin does not support propagateSizeHints()' "$work/start.log"; then
  fail "the installed program complained on start-up"
fi
ok "the installed program starts on the offscreen platform"

# Its command line needs no display: --version answers, an unknown option is a mistake (2).
[ "$("$root/usr/bin/pelorin" --version | head -n1)" = "pelorin (Pelorin) $version" ] ||
  fail "pelorin --version"
status=0
"$root/usr/bin/pelorin" --no-such-option 2>/dev/null || status=$?
[ "$status" -eq 2 ] || fail "an unknown option gave exit status $status, not 2"
ok "the installed program's command line"

# A real installation, and the README's commands as they stand, in a private mount namespace
# whose /usr, /etc and /var are overlays, so the host stays untouched. The postinst makes the
# group and grants the helper only; a member can run the helper, another user cannot; the
# installed window, started by the member with the old grant of its own, gives up every
# capability. The README's command for a copy built in the tree grants that copy the same way.
tree_grant=$(grep -m1 "^sudo sh -c 'groupadd" README.md) || fail "the README lacks the tree's grant"
add_user=$(grep -m1 '^sudo usermod -aG pelorin' README.md) || fail "the README lacks usermod"
mkdir -p "$work/overlay" "$work/home" "$work/tree/build/default"
chmod 0777 "$work/home"
cp "$root/$helper" "$work/tree/build/default/pelorin-helper"
export work deb deb_agent helper caps tree_grant add_user id
unshare --mount --propagation private bash -euc '
  mount -t tmpfs tmpfs "$work/overlay"
  for d in usr etc var; do
    mkdir -p "$work/overlay/$d/upper" "$work/overlay/$d/work"
    mount -t overlay overlay \
      -o "lowerdir=/$d,upperdir=$work/overlay/$d/upper,workdir=$work/overlay/$d/work" "/$d"
  done
  # With the triggers it wakes, as on a user's machine: the desktop entries' MIME cache and the
  # MIME database among them.
  dpkg --force-depends -i "$deb_agent" "$deb" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; exit 1; }
  group=$(getent group pelorin) || { echo "no group pelorin"; exit 1; }
  gid=$(echo "$group" | cut -d: -f3)
  [ "$gid" -lt 1000 ] && [ -z "$(echo "$group" | cut -d: -f4)" ] ||
    { echo "pelorin is no empty system group: $group"; exit 1; }
  mode=$(stat -c "%U:%G %a" "/$helper")
  [ "$mode" = "root:pelorin 750" ] || { echo "the helper is $mode"; exit 1; }
  granted=$(getcap "/$helper")
  [ "$granted" = "/$helper $caps" ] || { echo "the helper has: $granted"; exit 1; }
  [ -z "$(getcap /usr/bin/pelorin)" ] && [ "$(stat -c %a /usr/bin/pelorin)" = 755 ] ||
    { echo "the program is granted something"; exit 1; }
  useradd -M -N -g users pelorin-member
  useradd -M -N -g users pelorin-other
  USER=pelorin-member sh -c "${add_user#sudo }"
  setpriv --reuid=pelorin-member --regid=users --init-groups test -x "/$helper" ||
    { echo "a member may not run the helper"; exit 1; }
  if setpriv --reuid=pelorin-other --regid=users --init-groups test -x "/$helper"; then
    echo "a user outside the group may run the helper"
    exit 1
  fi
  setcap cap_net_raw,cap_net_admin+ep /usr/bin/pelorin
  setpriv --reuid=pelorin-member --regid=users --init-groups env -i HOME="$work/home" \
    XDG_RUNTIME_DIR="$work/home" QT_QPA_PLATFORM=offscreen /usr/bin/pelorin >/dev/null 2>&1 &
  pid=$!
  sleep 3
  held=$(grep "^Cap\(Inh\|Prm\|Eff\|Amb\)" /proc/$pid/status | cut -f2 | sort -u)
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  [ "$held" = 0000000000000000 ] || { echo "the window kept: $held"; exit 1; }
  # After the triggers the database knows pcapng, and a user with a home of its own and no
  # choices of its own gets Pelorin for capture files.
  grep -qx "application/x-pcapng:\*.pcapng" /usr/share/mime/globs ||
    { echo "the MIME database lacks pcapng"; exit 1; }
  mkdir -p "$work/xdg-home"
  for type in application/vnd.tcpdump.pcap application/x-pcapng; do
    default=$(env -i PATH=/usr/bin:/bin HOME="$work/xdg-home" xdg-mime query default "$type")
    [ "$default" = "$id.desktop" ] || { echo "xdg-mime: $type opens with \"$default\""; exit 1; }
  done
  cd "$work/tree"
  sh -c "${tree_grant#sudo }"
  tree=build/default/pelorin-helper
  mode=$(stat -c "%U:%G %a" "$tree")
  [ "$mode" = "root:pelorin 750" ] || { echo "the tree'"'"'s helper is $mode"; exit 1; }
  [ "$(getcap "$tree")" = "$tree $caps" ] || { echo "the tree'"'"'s helper has: $(getcap "$tree")"; exit 1; }
' || fail "the installation's grant and the README's commands"
ok "postinst: group pelorin, helper root:pelorin 0750 with $caps; the README's commands"
ok "after the installation's triggers, capture files open with $id.desktop (xdg-mime)"

# Removal leaves nothing: no file, no directory, no record in the package database.
dpkg --root="$root" --purge pelorin pelorin-agent >"$work/dpkg.log" 2>&1 || {
  cat "$work/dpkg.log"
  fail "dpkg --purge"
}
left=$(cd "$root" && find . -mindepth 1 -path ./var -prune -o -print)
[ -z "$left" ] || fail "left after purge: $left"
[ -z "$(find "$root/var/lib/dpkg/info" -name 'pelorin*')" ] || fail "dpkg's records remain"
ok "purge leaves nothing behind"

echo "check-package: all $checks checks passed"
