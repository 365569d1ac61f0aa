#!/usr/bin/env bash
# Makes a private Wine prefix ready for the Windows editor and its window
# tests, once (a marker file says it is done):
# - Latin text in a sans font and Chinese text in WenQuanYi Micro Hei: Wine's
#   own fonts (fonts-wine) give Tahoma, the font Windows programs get by
#   default, and the caption buttons' symbols; the other Windows fonts
#   programs ask for are replaced by Linux fonts that fontconfig hands to Wine;
# - Wine draws the window frames itself, as Windows would, instead of leaving
#   them to an X window manager;
# - a web address opened through the shell (ShellExecute, winebrowser) is
#   written to FOLDER/opened-addresses.txt instead of starting a browser;
# - .exe files are programs to Explorer, which then shows each with its own
#   icon, as Windows does (wineboot leaves the extension unregistered);
# - the desktop's DPI (LogPixels, as Windows' display scale sets it: 144 for
#   150 %, 192 for 200 %), 96 unless DPI is given.
#   tools/wine_prefix.sh FOLDER [DPI]
set -euo pipefail
prefix=$(realpath -m "$1")
dpi=${2:-96}
# The marker names this script's version and the DPI; a prefix an older
# version made is made anew.
ready=$prefix/.tarvenor-ready-$(sha256sum "$0" | cut -c1-12)-dpi$dpi
[ -f "$ready" ] && exit 0
if compgen -G "$prefix/.tarvenor-ready*" >/dev/null; then
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    rm -rf "$prefix"
fi

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
    for face in "Segoe UI" "Arial" "Microsoft Sans Serif"; do
        printf '"%s"="%s"\n' "$face" "$sans"
    done
    for face in "SimSun" "NSimSun" "Microsoft YaHei" "SimHei" "MingLiU" "PMingLiU"; do
        printf '"%s"="%s"\n' "$face" "$chinese"
    done
    printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n"Decorated"="Y"\n'
    printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\WineBrowser]\n"Browsers"="%s"\n' "$prefix/browser.sh"
    printf '\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:%08x\n' "$dpi"
    printf '\n[HKEY_CLASSES_ROOT\\.exe]\n@="exefile"\n'
} > "$reg"
wine regedit /S "Z:${reg//\//\\}" >/dev/null 2>&1
# The caption buttons' symbols: Wine finds Marlett among the Windows fonts.
[ -f /usr/share/wine/fonts/marlett.ttf ] && cp /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/"
wineserver -w
touch "$ready"
