#!/usr/bin/env bash
# Builds the Windows packages into dist/ (or --dist DIR):
#   CompanyMain-Setup-<version>.exe      one setup for 64-bit and 32-bit Windows (NSIS)
#   CompanyMain-<version>-x64.msi, -x86.msi  for deployment by policy (wixl)
#   CompanyMain-<version>-win64.zip, -win32.zip  the programs and an empty Config folder
# The version is the CMake project's, or --version X.Y.Z (then both programs are built with it
# in build folders of their own). With SIGN_CERT and SIGN_KEY (PEM) every program, the setup,
# its uninstaller and the MSIs are signed (scripts/sign-windows.sh). SHA256SUMS in the dist
# folder lists every package it holds.
# --amd64-setup also builds the same setup as a 64-bit program, CompanyMain-Setup-<version>-amd64.exe,
# for the tests on machines that cannot run 32-bit programs; it is not shipped.
#
# The packages are reproducible: the same source gives the same bytes in any folder, at any
# time, time zone, locale and umask. Every time they carry is SOURCE_DATE_EPOCH: given, or the
# time of the last commit, or (a source tree without git) the date of debian/changelog's
# latest entry. The MSIs' ProductCode is derived from the version and the architecture, their
# PackageCode from their content. A signed build differs from an unsigned one only by the
# signatures and what follows from their size (tests/reproducible/signed.py shows it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
default_version=$(sed -n 's/^ *set(COMPANYMAIN_VERSION \([0-9.][0-9.]*\))$/\1/p' CMakeLists.txt)
version=$default_version
dist=$root/dist
amd64_setup=no
while [ $# -gt 0 ]; do
  case $1 in
    --version) version=$2; shift 2 ;;
    --dist) dist=$2; shift 2 ;;
    --amd64-setup) amd64_setup=yes; shift ;;
    *) echo "usage: $0 [--version X.Y.Z] [--dist DIR] [--amd64-setup]" >&2; exit 2 ;;
  esac
done
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "version must be X.Y.Z" >&2; exit 2; }
for tool in makensis wixl msibuild osslsigncode; do
  command -v $tool >/dev/null || { echo "missing $tool (scripts/install-deps.sh all)" >&2; exit 2; }
done
# Debian's Python: its zlib makes the zips, and its gi reaches libmsi, which stamps the MSIs.
python=/usr/bin/python3
"$python" -c 'import gi; gi.require_version("Libmsi", "1.0")' 2>/dev/null ||
  { echo "missing gir1.2-libmsi-1.0 for $python (scripts/install-deps.sh all)" >&2; exit 2; }
mkdir -p "$dist"
dist=$(cd "$dist" && pwd)

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  if [ "$(git -C "$root" rev-parse --show-toplevel 2>/dev/null)" = "$root" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct)
  else
    SOURCE_DATE_EPOCH=$(date -d "$(sed -n 's/^ -- .*>  //p' debian/changelog | head -1)" +%s)
  fi
fi
[[ $SOURCE_DATE_EPOCH =~ ^[0-9]+$ ]] || { echo "SOURCE_DATE_EPOCH is not a number of seconds" >&2; exit 2; }
export SOURCE_DATE_EPOCH

build() {  # preset folder
  # One build at a time in a folder: two packings of one tree at once (the test suites run
  # side by side) would configure and build it over each other.
  mkdir -p "$2"
  exec 8<"$2"
  flock 8
  if [ "$version" = "$default_version" ]; then
    cmake --preset "$1" >/dev/null
  else
    cmake --preset "$1" -B "$2" -DCOMPANYMAIN_VERSION="$version" -DCOMPANYMAIN_WINE_TOOLS=OFF >/dev/null
  fi
  cmake --build "$2" -j2 --target CompanyMain CompanyMainConfig CompanyMainSettings >/dev/null
  exec 8<&-
}
suffix=
[ "$version" = "$default_version" ] || suffix=-$version
build windows-x64 "build-win64$suffix"
build windows-x86 "build-win32$suffix"

stage=$(mktemp -d /tmp/companymain-package.XXXXXX)
trap 'rm -rf "$stage"' EXIT
for arch in win64 win32; do
  mkdir -p "$stage/$arch"
  cp "build-$arch$suffix/CompanyMain.exe" "build-$arch$suffix/CompanyMainConfig.exe" \
    "build-$arch$suffix/CompanyMainSettings.exe" "$stage/$arch/"
  bash scripts/sign-windows.sh "$stage/$arch/CompanyMain.exe" "$stage/$arch/CompanyMainConfig.exe" \
    "$stage/$arch/CompanyMainSettings.exe"
done
cp src/app/launcher/res/CompanyMain.ico "$stage/"
# The setup and the MSIs' cabinets keep the files' times: the installed programs carry the
# source's date.
touch -d "@$SOURCE_DATE_EPOCH" "$stage"/win64/* "$stage"/win32/* "$stage/CompanyMain.ico"
made=()

# The portable zips: a folder CompanyMain with the programs and an empty Config; entries sorted,
# dated SOURCE_DATE_EPOCH (UTC: a zip's times have no zone), with DOS attributes only.
for arch in win64 win32; do
  zip=CompanyMain-$version-$arch.zip
  "$python" - "$dist/$zip" "$SOURCE_DATE_EPOCH" "$stage/$arch"/*.exe <<'PY'
import os, sys, time, zipfile
out, epoch, programs = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
when = time.gmtime(max(epoch, 315532800))[:6]  # a zip's dates start in 1980
def entry(name, attributes):
    info = zipfile.ZipInfo(name, when)
    info.create_system = 0
    info.external_attr = attributes
    info.compress_type = zipfile.ZIP_STORED if name.endswith("/") else zipfile.ZIP_DEFLATED
    return info
with zipfile.ZipFile(out + ".new", "w") as archive:
    archive.writestr(entry("CompanyMain/", 0x10), b"")
    for program in sorted(programs, key=os.path.basename):
        with open(program, "rb") as f:
            archive.writestr(entry("CompanyMain/" + os.path.basename(program), 0x20), f.read())
    archive.writestr(entry("CompanyMain/Config/", 0x10), b"")
os.replace(out + ".new", out)
PY
  made+=("$zip")
done

# The setup; the uninstaller it writes is signed as NSIS makes it.
signer=()
[ -n "${SIGN_CERT:-}" ] && signer=("-DSIGNER=bash \"$root/scripts/sign-windows.sh\"")
setup() {  # target file
  makensis -V2 -INPUTCHARSET UTF8 "-DTARGET=$1" "-DVERSION=$version" "-DBUILD64=$stage/win64" \
    "-DBUILD32=$stage/win32" "-DICON=$stage/CompanyMain.ico" "-DOUTFILE=$dist/$2" "${signer[@]}" \
    packaging/windows/CompanyMain.nsi
  made+=("$2")
}
setup x86-unicode "CompanyMain-Setup-$version.exe"
[ $amd64_setup = no ] || setup amd64-unicode "CompanyMain-Setup-$version-amd64.exe"

# The name space of the MSIs' derived GUIDs (name-based, RFC 4122 version 5). Never change it:
# the ProductCode of a version must stay what it was.
msi_namespace=AFD1D1C2-20DB-4B1D-A889-13CEB172CFAD
# The MSIs. wixl leaves the database in code page 0 and drops the Chinese texts (see the .wxs):
# the database gets code page 936 and the texts are written again.
secure="WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;URL;COMPANYNUM;COMPANYTYPE;COMPANYNAME;DEVICEID;UPLOADUSER;OTHERINFO"
printf '\r\n\r\n936\t_ForceCodepage\r\n' >"$stage/_ForceCodepage.idt"
for arch in x64 x86; do
  folder=win64
  [ $arch = x86 ] && folder=win32
  msi=$dist/CompanyMain-$version-$arch.msi
  # One ProductCode per version and architecture: the same in every build of it.
  product_code=$("$python" -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' \
    "$msi_namespace" "ProductCode $version $arch")
  (cd "$stage" && wixl -a $arch -D "Version=$version" -D "Arch=$arch" -D "BuildDir=$folder" \
    -D Icon=CompanyMain.ico -D "ProductCode=$product_code" -o "$msi" "$root/packaging/windows/CompanyMain.wxs")
  [ -f "$msi" ] || { echo "wixl made no $msi" >&2; exit 1; }
  msibuild "$msi" -i "$stage/_ForceCodepage.idt"
  msibuild "$msi" \
    -q "UPDATE Property SET Value='企业信息管理' WHERE Property='ProductName'" \
    -q "UPDATE Property SET Value='$secure' WHERE Property='SecureCustomProperties'" \
    -q "UPDATE Shortcut SET Name='企业信息管理' WHERE Shortcut='StartMenuShortcut'" \
    -q "UPDATE Shortcut SET Name='企业信息管理' WHERE Shortcut='DesktopShortcut'" \
    -q "UPDATE Shortcut SET Name='企业信息管理 设置' WHERE Shortcut='SettingsShortcut'" \
    -q "UPDATE LaunchCondition SET Description='已经安装了更新的版本。' WHERE Condition='NOT WIX_DOWNGRADE_DETECTED'"
  # wixl dates the summary now and gives it a random PackageCode. The dates become
  # SOURCE_DATE_EPOCH; the PackageCode, which must differ between any two different packages,
  # is derived from the whole package as it is with a PackageCode of zeros.
  "$python" - "$msi" "$SOURCE_DATE_EPOCH" "$msi_namespace" <<'PY'
import hashlib, sys, uuid
import gi
gi.require_version("Libmsi", "1.0")
from gi.repository import Libmsi
path, epoch, namespace = sys.argv[1], int(sys.argv[2]), uuid.UUID(sys.argv[3])
def stamp(package_code):
    database = Libmsi.Database.new(path, Libmsi.DbFlags.TRANSACT, None)
    summary = Libmsi.SummaryInfo.new(database, 4)
    filetime = (epoch + 11644473600) * 10**7  # 100 ns since 1601
    summary.set_filetime(Libmsi.Property.CREATED_TM, filetime)
    summary.set_filetime(Libmsi.Property.LASTSAVED_TM, filetime)
    summary.set_string(Libmsi.Property.UUID, "{%s}" % str(package_code).upper())
    summary.persist()
    database.commit()
stamp(uuid.UUID(int=0))
with open(path, "rb") as f:
    content = hashlib.sha256(f.read()).hexdigest()
stamp(uuid.uuid5(namespace, "PackageCode " + content))
PY
  bash scripts/sign-windows.sh "$msi"
  made+=("CompanyMain-$version-$arch.msi")
done

# SHA256SUMS: this run's packages, with the lines of other packages in the folder kept.
bash scripts/sha256sums.sh "$dist" "${made[@]}"

ls -l "$dist"/CompanyMain-*"$version"* "$dist/SHA256SUMS"
