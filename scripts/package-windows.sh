#!/usr/bin/env bash
# Builds the Windows packages into dist/ (or --dist DIR):
#   CompanyMain-Setup-<version>.exe      one setup for 64-bit and 32-bit Windows (NSIS)
#   CompanyMain-<version>-x64.msi, -x86.msi  for deployment by policy (wixl)
#   CompanyMain-<version>-win64.zip, -win32.zip  the programs and an empty Config folder
# The version is the CMake project's, or --version X.Y.Z (then both programs are built with it
# in build folders of their own). With SIGN_CERT and SIGN_KEY (PEM) every program, the setup,
# its uninstaller and the MSIs are signed (scripts/sign-windows.sh).
# --amd64-setup also builds the same setup as a 64-bit program, CompanyMain-Setup-<version>-amd64.exe,
# for the tests on machines that cannot run 32-bit programs; it is not shipped.
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
for tool in makensis wixl msibuild osslsigncode python3; do
  command -v $tool >/dev/null || { echo "missing $tool (scripts/install-deps.sh all)" >&2; exit 2; }
done
mkdir -p "$dist"
dist=$(cd "$dist" && pwd)

build() {  # preset folder
  if [ "$version" = "$default_version" ]; then
    cmake --preset "$1" >/dev/null
  else
    cmake --preset "$1" -B "$2" -DCOMPANYMAIN_VERSION="$version" -DCOMPANYMAIN_WINE_TOOLS=OFF >/dev/null
  fi
  cmake --build "$2" -j2 --target CompanyMain CompanyMainConfig >/dev/null
}
suffix=
[ "$version" = "$default_version" ] || suffix=-$version
build windows-x64 "build-win64$suffix"
build windows-x86 "build-win32$suffix"

stage=$(mktemp -d /tmp/companymain-package.XXXXXX)
trap 'rm -rf "$stage"' EXIT
for arch in win64 win32; do
  mkdir -p "$stage/$arch"
  cp "build-$arch$suffix/CompanyMain.exe" "build-$arch$suffix/CompanyMainConfig.exe" "$stage/$arch/"
  bash scripts/sign-windows.sh "$stage/$arch/CompanyMain.exe" "$stage/$arch/CompanyMainConfig.exe"
done
cp src/app/res/CompanyMain.ico "$stage/"

# The portable zips: a folder CompanyMain with the programs and an empty Config.
for arch in win64 win32; do
  mkdir -p "$stage/zip-$arch/CompanyMain/Config"
  cp "$stage/$arch/"*.exe "$stage/zip-$arch/CompanyMain/"
  rm -f "$dist/CompanyMain-$version-$arch.zip"
  (cd "$stage/zip-$arch" && python3 -m zipfile -c "$dist/CompanyMain-$version-$arch.zip" CompanyMain)
done

# The setup; the uninstaller it writes is signed as NSIS makes it.
signer=()
[ -n "${SIGN_CERT:-}" ] && signer=("-DSIGNER=bash \"$root/scripts/sign-windows.sh\"")
setup() {  # target file
  makensis -V2 -INPUTCHARSET UTF8 "-DTARGET=$1" "-DVERSION=$version" "-DBUILD64=$stage/win64" \
    "-DBUILD32=$stage/win32" "-DICON=$stage/CompanyMain.ico" "-DOUTFILE=$2" "${signer[@]}" \
    packaging/windows/CompanyMain.nsi
}
setup x86-unicode "$dist/CompanyMain-Setup-$version.exe"
[ $amd64_setup = no ] || setup amd64-unicode "$dist/CompanyMain-Setup-$version-amd64.exe"

# The MSIs. wixl leaves the database in code page 0 and drops the Chinese texts (see the .wxs):
# the database gets code page 936 and the texts are written again.
secure="WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;URL;COMPANYNUM;COMPANYTYPE;COMPANYNAME;DEVICEID;UPLOADUSER;OTHERINFO"
printf '\r\n\r\n936\t_ForceCodepage\r\n' >"$stage/_ForceCodepage.idt"
for arch in x64 x86; do
  folder=win64
  [ $arch = x86 ] && folder=win32
  msi=$dist/CompanyMain-$version-$arch.msi
  (cd "$stage" && wixl -a $arch -D "Version=$version" -D "Arch=$arch" -D "BuildDir=$folder" \
    -D Icon=CompanyMain.ico -o "$msi" "$root/packaging/windows/CompanyMain.wxs")
  [ -f "$msi" ] || { echo "wixl made no $msi" >&2; exit 1; }
  msibuild "$msi" -i "$stage/_ForceCodepage.idt"
  msibuild "$msi" \
    -q "UPDATE Property SET Value='企业信息管理' WHERE Property='ProductName'" \
    -q "UPDATE Property SET Value='$secure' WHERE Property='SecureCustomProperties'" \
    -q "UPDATE Shortcut SET Name='企业信息管理' WHERE Shortcut='StartMenuShortcut'" \
    -q "UPDATE Shortcut SET Name='企业信息管理' WHERE Shortcut='DesktopShortcut'" \
    -q "UPDATE LaunchCondition SET Description='已经安装了更新的版本。' WHERE Condition='NOT WIX_DOWNGRADE_DETECTED'"
  bash scripts/sign-windows.sh "$msi"
done

ls -l "$dist"/CompanyMain-*"$version"*
