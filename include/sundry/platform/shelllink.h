#pragma once
// Shell links: Windows shortcut (.lnk) files in the MS-SHLLINK binary
// format, standing for a shell-link object (IShellLinkA) saved through its
// persist-file interface.
//
// A file written here holds: the 76-byte header with the shell-link class id
// {00021401-0000-0000-C000-000000000046} and the target's attributes, times
// and size (zero when the target does not exist); a LinkInfo structure with
// a fixed-drive VolumeID and the target as LocalBasePath; and the string data
// (UTF-16) of the description, working directory and arguments, each only
// when given and not empty; then the terminal block. There is no item-id
// list, which readers do not need when the LinkInfo is present.
//
// Paths inside the file are in Windows form: every "/" is stored as "\", so
// "/opt/app/run" is kept as "\opt\app\run". The file itself is written at
// the file-system form of its path ("\" read as "/"). Texts are in the ANSI
// code page (Windows-1252) and stored as UTF-16.

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>

namespace sundry::platform {

// What the library sets on a shortcut. path is required; the other texts
// may be null or empty, and are then not stored.
struct ShellLinkFields {
  const char* path;              // the target
  const char* workingDirectory;  // the working directory of the target
  const char* arguments;         // the command-line arguments
  const char* description;       // the description (the tool tip)
};

// Writes a shortcut file at linkFile with the given fields, replacing a file
// already there. The file is replaced durably (temporary file, commit,
// rename, commit of the folder), so a crash leaves the old file or the new
// one, never a cut one. Returns TRUE, or FALSE with the last error set:
//   ERROR_INVALID_PARAMETER for a null link, a null or empty path or link
//     file, or a text longer than the format holds (65535 UTF-16 characters
//     for each string, 65535 bytes for the target path);
//   ERROR_PATH_NOT_FOUND when the folder of linkFile does not exist,
//   ERROR_ACCESS_DENIED, ERROR_DISK_FULL, ... as the file system reports.
// Thread-safe; nothing is left behind on failure.
SUNDRY_EXPORT BOOL SaveShellLinkA(const ShellLinkFields* link, const char* linkFile);

}  // namespace sundry::platform
