#!/bin/sh
# Makes the small Windows executables the version-resource tests read.
# Needs Debian's mingw-w64 cross tools (gcc-mingw-w64-i686,
# gcc-mingw-w64-x86-64, binutils-mingw-w64); the files it writes are kept in
# the repository, so building and testing the library does not need them.
#
#   ver-5.1.2600.2180-pe32.dll  PE32 DLL, file version 5.1.2600.2180, string table
#   ver-1.2.345.6-pe64.exe      PE32+ program, file version 1.2.345.6
#   rcdata-only-pe64.exe        PE32+ program with resources but no version
#   nores-pe32.exe              PE32 program without a resource section
#
# Usage: make_fixtures.sh [output-dir]   (default: the script's folder)
set -eu
out=$(cd "${1:-$(dirname "$0")}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

cat > entry.c <<'SRC'
/* Nothing runs: the files are only read. */
int entry(void) { return 0; }
SRC

cat > v5.rc <<'SRC'
1 VERSIONINFO
FILEVERSION 5,1,2600,2180
PRODUCTVERSION 5,1,2600,2180
FILEFLAGSMASK 0x3f
FILEFLAGS 0
FILEOS 0x40004
FILETYPE 2
FILESUBTYPE 0
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904b0"
    BEGIN
      VALUE "CompanyName", "Sundry Test Fixtures"
      VALUE "FileDescription", "Version resource test DLL"
      VALUE "FileVersion", "5.1.2600.2180"
      VALUE "ProductName", "Sundry \xe9t\xe9 \x80"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
SRC

cat > v1.rc <<'SRC'
1 VERSIONINFO
FILEVERSION 1,2,345,6
PRODUCTVERSION 1,2,0,0
FILEOS 0x40004
FILETYPE 1
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "000004b0"
    BEGIN
      VALUE "FileVersion", "1.2.345.6"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x0, 1200
  END
END
SRC

cat > rcdata.rc <<'SRC'
7 RCDATA { "not a version resource" }
SRC

flags="-nostdlib -s -Os -Wl,--file-alignment,512 -Wl,--section-alignment,4096"

i686-w64-mingw32-windres -c 1252 v5.rc -O coff -o v5.res
i686-w64-mingw32-gcc $flags -shared -Wl,-e,_entry entry.c v5.res -o "$out/ver-5.1.2600.2180-pe32.dll"

x86_64-w64-mingw32-windres v1.rc -O coff -o v1.res
x86_64-w64-mingw32-gcc $flags -Wl,-e,entry entry.c v1.res -o "$out/ver-1.2.345.6-pe64.exe"

x86_64-w64-mingw32-windres rcdata.rc -O coff -o rcdata.res
x86_64-w64-mingw32-gcc $flags -Wl,-e,entry entry.c rcdata.res -o "$out/rcdata-only-pe64.exe"

i686-w64-mingw32-gcc $flags -Wl,-e,_entry entry.c -o "$out/nores-pe32.exe"

ls -l "$out"/*.dll "$out"/*.exe
