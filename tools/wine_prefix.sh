#!/usr/bin/env bash
# Makes a private Wine prefix ready for the Windows editor and its window
# tests, once (a marker file says it is done):
# - Latin text in a sans font and Chinese text in WenQuanYi Micro Hei: Wine's
#   own fonts are not installed, so the Windows font names programs ask for
#   are replaced by Linux fonts that are (fontconfig hands them to Wine);
# - Wine draws the window frames itself, as Windows would, instead of leaving
#   them to an X window manager;
# - a web address opened through the shell (ShellExecute, winebrowser) is
#   written to FOLDER/opened-addresses.txt instead of starting a browser.
#   tools/wine_prefix.sh FOLDER
set -euo pipefail
prefix=$(realpath -m "$1")
[ -f "$prefix/.tarvenor-ready" ] && exit 0

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$prefix"
wine wineboot --init >/dev/null 2>&1

cat > "$prefix/browser.sh" <<'EOF'
#!/bin/sh
printf '%s\n' "$1" >> "$(dirname "$0")/opened-addresses.txt"
EOF
chmod +x "$prefix/browser.sh"

sans="DejaVu Sans"
chinese="WenQuanYi Micro Hei"
reg=$prefix/tarvenor.reg
{
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\n'
    for face in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "Segoe UI" "Arial" "Microsoft Sans Serif"; do
        printf '"%s"="%s"\n' "$face" "$sans"
    done
    for face in "SimSun" "NSimSun" "Microsoft YaHei" "SimHei" "MingLiU" "PMingLiU"; do
        printf '"%s"="%s"\n' "$face" "$chinese"
    done
    printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n"Decorated"="Y"\n'
    printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\WineBrowser]\n"Browsers"="%s"\n' "$prefix/browser.sh"
} > "$reg"
wine regedit /S "Z:${reg//\//\\}" >/dev/null 2>&1
wineserver -w
touch "$prefix/.tarvenor-ready"
