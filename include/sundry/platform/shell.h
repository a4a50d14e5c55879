#pragma once
// Shell special folders.
//
// Each folder id (CSIDL) maps to a folder of the user's desktop session:
// the mapping lives in one table in platform/shell.cpp. Application data
// follows SUNDRY_APPDATA when set, else $XDG_CONFIG_HOME, else ~/.config.
//
//   CSIDL_DESKTOP, CSIDL_DESKTOPDIRECTORY  XDG_DESKTOP_DIR of
//                       $XDG_CONFIG_HOME/user-dirs.dirs, else ~/Desktop
//   CSIDL_PERSONAL      XDG_DOCUMENTS_DIR there, else ~/Documents
//   CSIDL_APPDATA       $SUNDRY_APPDATA, else $XDG_CONFIG_HOME, else ~/.config
//   CSIDL_LOCAL_APPDATA $XDG_DATA_HOME, else ~/.local/share
//   CSIDL_PROGRAMS      $XDG_DATA_HOME/applications, else
//                       ~/.local/share/applications (the menu's entries)
//   CSIDL_STARTUP       $XDG_CONFIG_HOME/autostart, else ~/.config/autostart
//
// Environment values that are not absolute paths are ignored; $HOME falls
// back to the user's entry in the password database.

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>

#include <string>
#include <string_view>

#if defined(_WIN32)
#include <shlobj.h>
#else
#define CSIDL_DESKTOP 0x0000
#define CSIDL_PROGRAMS 0x0002
#define CSIDL_PERSONAL 0x0005
#define CSIDL_STARTUP 0x0007
#define CSIDL_DESKTOPDIRECTORY 0x0010
#define CSIDL_APPDATA 0x001a
#define CSIDL_LOCAL_APPDATA 0x001c
#define CSIDL_FLAG_CREATE 0x8000
#define CSIDL_FLAG_DONT_VERIFY 0x4000

#define SHGFP_TYPE_CURRENT 0
#define SHGFP_TYPE_DEFAULT 1

typedef LONG HRESULT;
#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_FAIL ((HRESULT)0x80004005)
#define E_INVALIDARG ((HRESULT)0x80070057)


extern "C" {

// Writes the path of a special folder (at most MAX_PATH characters with the
// terminator) into pszPath. S_OK on success; S_FALSE, as the ANSI function
// of Windows gives it, when the id is valid but the folder does not exist
// (the path is written all the same; CSIDL_FLAG_DONT_VERIFY turns this into
// S_OK); E_INVALIDARG for an unknown folder id or a null pszPath; E_FAIL
// when the folder cannot be determined (no home directory), its path is too
// long, or (with CSIDL_FLAG_CREATE, which creates missing folders with mode
// 0700) it cannot be created. pszPath is unchanged on E_INVALIDARG and
// E_FAIL. Other CSIDL_FLAG_* bits, hwnd, hToken and dwFlags are ignored.
// Reads the environment, so not safe while another thread changes it.
SUNDRY_EXPORT HRESULT SHGetFolderPathA(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPSTR pszPath);

// The same as a BOOL: TRUE when SHGetFolderPathA gives S_OK, so FALSE also
// for a folder that does not exist, unless fCreate asks to create it.
SUNDRY_EXPORT BOOL SHGetSpecialFolderPathA(HWND hwndOwner, LPSTR lpszPath, int csidl, BOOL fCreate);
}
#endif  // _WIN32

