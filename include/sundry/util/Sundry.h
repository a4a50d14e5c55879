#pragma once
// CSundry: static helpers for processes, file versions, shortcuts, devices,
// string lists, clock times, GUIDs, address checks, the dual registry list,
// bitmap regions, tooltips, notification balloons and display metrics.
// None keeps state.

#include <sundry/export.h>
#include <sundry/platform/CString.h>
#include <sundry/platform/CTime.h>
#include <sundry/platform/Collections.h>
#include <sundry/platform/gdi.h>
#include <sundry/platform/wintypes.h>

class SUNDRY_EXPORT CSundry {
 public:
  // Size of a buffer that holds a GUID in text form with its terminator.
  static const int iGUIDStringLen = 39;

  // --- Strings, lists, time and GUIDs ------------------------------------

  // The clock time as text: "Noon", "Midnight", or "%2d:%02d" with optional
  // ":%02d" seconds and, on the 12-hour clock, "  AM" / "  PM".
  static CString GetTimeString(CTime time, int use24Hour, int showSeconds, int reserved);
  // Writes "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" into buffer (at least
  // iGUIDStringLen characters) and returns buffer.
  static char* GUIDtoTCHAR(GUID* guid, char* buffer);
  // Index of the first entry equal to text (ignoring case when ignoreCase
  // is 1), or -1.
  static int findStringInStringArray(const CStringArray& list, const char* text, int ignoreCase);
  // Removes every entry equal to an earlier one, keeping the order.
  static void RemoveDuplicatesFromList(CStringArray& list);
  // Appends the entries of source that target does not hold yet; returns how
  // many were appended.
  static int addStringsToStringArray(CStringArray& target, const CStringArray& source);
  // 1 when the e-mail-style address passes the length checks and, when
  // domains are given, its domain is one of them; else 0. Trims the
  // caller's address and lower-cases the caller's domain list.
  static int VerifyUserAddress(CString& address, int minSuffix, int maxSuffix, int minUser, int maxUser,
                               CStringArray* domains);
  // Appends the name of each sub-key of HKEY_LOCAL_MACHINE\keyPath with the
  // text of its value valueName; returns the number of pairs appended.
  static int LoadDualRegistryList(const char* keyPath, const char* valueName, CStringArray& names,
                                  CStringArray& values);

  // --- Processes, files, shortcuts and devices ---------------------------

  // 1 when a running process has that executable name (ignoring case).
  static int FindProcessByExeName(CString& exeName);
  // Ends every running process whose executable name is in the list.
  // 1 unless a termination failed; 0 also when the process list cannot be
  // taken. A matching process the caller may not end (OpenProcess refused
  // with anything but "no such process") counts as a failed termination,
  // and the calling process itself is never ended.
  static int KillProcessByExeName(CStringArray& exeNames);
  static int KillProcessByExeName(CString& exeName);
  // The version of a file's version resource; 1 with the numbers, else 0
  // with all three 0.
  static int GetFileVersion(const char* path, unsigned long& major, unsigned long& minor, unsigned long& build);
  // The version as "%.2d.%.2d.%.3d", or else the file's time stamp.
  static int GetFileVersion(const char* path, CString& version);
  // The file's modification time as local "%Y%m%d%H%M%S".
  static int GetFileTimeStamp(const char* path, CString& stamp);
  // Saves a shortcut "<targetFile>.LNK" in linkFolder (or a special
  // folder) pointing at targetDir\targetFile.
  static int ShortcutCreate(const char* targetDir, const char* targetFile, const char* arguments,
                            const char* linkFolder);
  static int ShortcutCreate(const char* targetDir, const char* targetFile, const char* arguments, int folderId);
  // Deletes the shortcut "<targetFile>.LNK" from linkFolder (or a special
  // folder). Both ShortcutCreate and ShortcutRemove return 0 without
  // touching any file when targetFile is not a plain file name (it holds a
  // "\\" or "/", or is "." or ".."), so neither reaches outside the folder.
  static int ShortcutRemove(const char* linkFolder, const char* targetFile);
  static int ShortcutRemove(int folderId, const char* targetFile);
  // 1 when a present device of the class has a friendly name beginning with
  // deviceName; its name is copied into foundName (260 characters) when
  // given.
  static int DeviceAvailable(GUID* classGuid, const char* deviceName, char* foundName);
  // --- Windows and the display -------------------------------------------

  // A new region (owned by the caller) covering every pixel of the bitmap
  // that is not of the transparent colour range, in the bitmap's own
  // coordinates (0,0 its top-left pixel). The range is taken byte by byte,
  // lowest byte first: byte k of transparent is the low bound and byte k of
  // transparent + byte k of tolerance (at most 255) the high bound, both
  // inclusive, for the pixel's stored byte k, and a pixel is stored blue,
  // green, red. So byte 0 (the red field of a COLORREF) bounds the pixel's
  // blue and byte 2 (the blue field) its red; a colour whose red and blue
  // fields match (black, white, grey, magenta) selects the same pixels
  // either way. A bitmap wholly of the range gives an empty region. The
  // region is built in one pass as horizontal bands, rows with the same runs
  // sharing one band. Null when the bitmap is null or no bitmap, when it is
  // selected into a device context (deselect it first), or when a context,
  // the copy of its pixels or memory cannot be had; nothing made is kept on
  // any path.
  static HRGN BitmapToRegion(HBITMAP bitmap, unsigned long transparent, unsigned long tolerance);

  // A topmost tooltip window (class "tooltips_class32", TTS_NOPREFIX |
  // TTS_ALWAYSTIP) owned by parent, with one tool that shows text: it
  // watches parent's mouse messages itself (TTF_SUBCLASS), its id is the
  // parent's handle, and its rectangle, in parent's client coordinates, is
  // the area of the window tool when tool is given, else parent's whole
  // client area. The text is not copied by the tooltip: it must outlive it.
  // Null when the window cannot be made (and on Linux, where windows do not
  // exist, with ERROR_CALL_NOT_IMPLEMENTED); a tool that cannot be
  // registered destroys the tooltip and gives null.
  static HWND CreateTooltip(HWND parent, char* text, HWND tool);

  // Shows a balloon with title and text (null: none; cut to 63 and 255
  // characters) at the notification-area icon iconId of window, for timeout
  // milliseconds, with the icon kind infoFlags (NIIF_*). Only modifies an
  // icon the caller has added: an icon that does not exist (iconId 0
  // included) gets no balloon and is not created. Reports nothing; on Linux
  // the last error is ERROR_CALL_NOT_IMPLEMENTED afterwards.
  static void CreateTooltipBalloon(HWND window, const char* title, const char* text, unsigned long timeout,
                                   unsigned long infoFlags, unsigned int iconId);
  // The same with title and text loaded as string resources of the calling
  // program's module (an id of 0, or one that does not load, gives none).
  static void CreateTooltipBalloon(HWND window, unsigned int titleId, unsigned int textId, unsigned long timeout,
                                   unsigned long infoFlags, unsigned int iconId);

  // Bits per pixel of the display (on Linux: the X display's depth, or 24
  // without a display).
  static int GetDisplayDepth();

  // The factor between the screen's vertical resolution and 96 dots per
  // inch: exactly 1.0 at 96 dpi or when the screen cannot be asked, else
  // resolution / 96 for a scaleMode of 1 or more and 96 / resolution for 0
  // or less (0.8 and 1.25 at 120 dpi). On Linux the resolution is that of
  // GetDeviceCaps's screen context (SUNDRY_LOGPIXELS, Xft.dpi or 96).
  static double GetDPIScaleFactor(int scaleMode);
};
