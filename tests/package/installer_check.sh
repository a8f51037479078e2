#!/usr/bin/env bash
# installer_check.sh PACKAGE_DIR VERSION NEWER WINDOWS_TREE CAMFIX BOARD: the
# installer camfix-VERSION-setup.exe in a fresh wine prefix, as the user would
# have it. It installs silently for this user with camfix on PATH; the registry
# holds the uninstall entry and the Explorer entries, whose command lines, run
# on copies of BOARD, repair it as the Linux CAMFIX FOLDER does (files and
# console alike); an installer of version NEWER made from WINDOWS_TREE upgrades
# it in place; the uninstaller leaves no file, no key and PATH as it was. The
# installer and the installed camfix.exe carry version information, and
# camfix.exe an icon and its manifest.
set -euo pipefail
fail() { echo "installer_check: $*" >&2; exit 1; }
packages=$1 version=$2 newer=$3 windows_tree=$4 camfix=$5 board=$6
scratch=$(mktemp -d "${TMPDIR:-/tmp}/camfix-installer.XXXXXX")
export WINEPREFIX=$scratch/prefix
trap 'wineserver -k 2> /dev/null; rm -rf -- "$scratch"' EXIT
uninstall='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\camfix'
on_folder='HKCU\Software\Classes\Directory\shell\camfix'
on_background='HKCU\Software\Classes\Directory\Background\shell\camfix'
value() { # KEY NAME: the value's data (NAME "": the default value)
  local query=(/ve) name='(Default)'
  [ -z "$2" ] || query=(/v "$2") name=$2
  wine reg query "$1" "${query[@]}" 2> /dev/null | tr -d '\r' | sed -n "s/^    $name    REG_[A-Z_]*    //p"
}
expect() { # KEY NAME DATA
  [ "$(value "$1" "$2")" = "$3" ] || fail "$1 ${2:-(Default)} is \"$(value "$1" "$2")\", not \"$3\""
}

# One server, and wine's services, for the whole check (the trap stops them);
# started apart from any pipe of this script, which they would hold open.
mkdir "$WINEPREFIX" && wineserver -p
wine wineboot -i < /dev/null > /dev/null 2>&1
wine reg add 'HKCU\Environment' /v Path /t REG_EXPAND_SZ /d 'C:\keep' /f > /dev/null
wine "$packages/camfix-$version-setup.exe" /S /CurrentUser /PATH
folder=$(value "$uninstall" InstallLocation) || fail "no uninstall entry after the install"
exe="$folder\\camfix.exe"
[ "$folder" = "$(wine cmd /c echo '%LOCALAPPDATA%\Programs\camfix' | tr -d '\r')" ] \
  || fail "installed into $folder"
rows=(
  "$uninstall|DisplayName|camfix" "$uninstall|DisplayVersion|$version"
  "$uninstall|Publisher|Ivesmarch" "$uninstall|UninstallString|\"$folder\\Uninstall.exe\""
  "$on_folder||Repair CAM files with camfix" "$on_folder\\command||\"$exe\" \"%1\""
  "$on_background||Repair CAM files with camfix" "$on_background\\command||\"$exe\" \"%V\""
  'HKCU\Environment|Path|C:\keep;'"$folder"
)
for row in "${rows[@]}"; do IFS='|' read -r key name data <<< "$row"; expect "$key" "$name" "$data"; done
[[ $(value "$uninstall" EstimatedSize) =~ ^0x[1-9a-f] ]] || fail "no EstimatedSize"
installed=$(wine winepath -u "$exe")
for file in "$packages/camfix-$version-setup.exe" "$installed"; do
  details=$(strings -el "$file")
  for text in ProductName ProductVersion LegalCopyright "$version"; do
    grep -qx "$text" <<< "$details" || fail "${file##*/} has no $text in its version information"
  done
done
for text in 'level="asInvoker"' '>true</longPathAware>' '<supportedOS Id='; do
  grep -qa "$text" "$installed" || fail "camfix.exe's manifest lacks $text"
done
i686-w64-mingw32-objdump -p "$installed" | grep -q 'Entry: ID: 0x00000e' || fail "camfix.exe has no icon"

# What Explorer starts: the command line with the folder for %1 or %V.
mkdir "$scratch/linux" && cp -r "$board" "$scratch/linux/board"
linux_console=$(cd / && printf '\n\n' | "$camfix" "$scratch/linux/board")
for key in "$on_folder" "$on_background"; do
  copy=$(mktemp -d "$scratch/explorer.XXXXXX") && cp -r "$board" "$copy/board"
  command=$(value "$key\\command" "") || fail "no $key\\command"
  command=${command/\%[1V]/"$(wine winepath -w "$copy/board" | tr -d '\r')"}
  console=$(cd / && printf '\n\n' | eval "wine $command" | tr -d '\r')
  diff -r "$scratch/linux/board" "$copy/board" || fail "$command repairs otherwise than camfix FOLDER"
  [ "$console" = "$(tr -d '\r' <<< "$linux_console")" ] || fail "$command says: $console"
done

cpack --config "$windows_tree/CPackConfig.cmake" -G NSIS -R "$newer" -B "$scratch/newer" > /dev/null
wine "$scratch/newer/camfix-$newer-setup.exe" /S /CurrentUser
expect "$uninstall" DisplayVersion "$newer"
expect "$uninstall" InstallLocation "$folder"
expect HKCU\\Environment Path "C:\\keep;$folder"
[ "$(wine "$exe" --version | tr -d '\r')" = "camfix $version" ] || fail "no camfix.exe after the upgrade"

unix_folder=$(wine winepath -u "$folder")
wine "$folder\\Uninstall.exe" /S
# The uninstaller goes on from a copy in TEMP: the folder goes last.
for _ in $(seq 300); do [ -e "$unix_folder" ] && sleep 0.1; done
[ ! -e "$unix_folder" ] || fail "left behind: $(ls -A "$unix_folder")"
for key in "$uninstall" "$on_folder" "$on_background"; do
  ! wine reg query "$key" > /dev/null 2>&1 || fail "left behind: $key"
done
expect HKCU\\Environment Path 'C:\keep'
echo "installer_check: camfix-$version-setup.exe installs, works from Explorer, upgrades to $newer, uninstalls"
