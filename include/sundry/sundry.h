#pragma once
// Sundry: the umbrella header. Including it brings in every exported class
// and the Win32-style platform functions the library stands on.

#include <sundry/version.h>
#include <sundry/export.h>

// The platform layer: Win32 types, error codes, framework types and the
// registry, file and shell functions.
#include <sundry/platform/wintypes.h>
#include <sundry/platform/error.h>
#include <sundry/platform/codepage.h>
#include <sundry/platform/CString.h>
#include <sundry/platform/Collections.h>
#include <sundry/platform/CTime.h>
#include <sundry/platform/registry.h>
#include <sundry/platform/file.h>
#include <sundry/platform/fileops.h>
#include <sundry/platform/profile.h>
#include <sundry/platform/sync.h>
#include <sundry/platform/process.h>
#include <sundry/platform/version.h>
#include <sundry/platform/shell.h>
#include <sundry/platform/shelllink.h>
#include <sundry/platform/setupapi.h>
#include <sundry/platform/sysinfo.h>
#include <sundry/platform/CFileFind.h>

// The debug log.
#include <sundry/diag/DebugLog.h>

// Registry object model and .reg files.
#include <sundry/registry/RegistryBase.h>
#include <sundry/registry/RegistryValue.h>
#include <sundry/registry/RegistryKey.h>
#include <sundry/registry/RegistryKeysFiltered.h>
#include <sundry/registry/RegFile.h>

// Browser proxy settings.
#include <sundry/proxy/Proxy.h>

// Record log file.
#include <sundry/logdb/LogDB.h>

// Encryption.
#include <sundry/crypto/Encrypt.h>
#include <sundry/crypto/CryptStream.h>

// General helpers, named mutex and string map.
#include <sundry/util/Sundry.h>
#include <sundry/util/MutexSimple.h>
#include <sundry/util/StringMap.h>

// Serial port, modem dialogue and the modem simulator.
#include <sundry/platform/comm.h>
#include <sundry/platform/CSync.h>
#include <sundry/serial/SerialPort.h>
#include <sundry/serial/Modem.h>
#include <sundry/serial/ModemSimulator.h>

// System report and DNS suffix search list.
#include <sundry/sysinfo/GeneralSysInfo.h>
#include <sundry/sysinfo/RtfText.h>
#include <sundry/sysinfo/DNSSuffixUtil.h>

// Threads with message queues, the run-time file functions and the copy
// worker.
#include <sundry/platform/thread.h>
#include <sundry/platform/crt.h>
#include <sundry/platform/fileinfo.h>
#include <sundry/copy/CopyFileController.h>

// Bitmaps, regions and the display's metrics, and the window and shell
// calls of CSundry's tooltips and balloons.
#include <sundry/platform/gdi.h>
// The window framework and the window controls (Windows build only).
#if defined(_WIN32)
#include <sundry/platform/CWnd.h>
#include <sundry/platform/CGdiObject.h>
#include <sundry/platform/AfxCtrl.h>
#include <sundry/controls/VELADialog.h>
#include <sundry/controls/VELABitmapBtn.h>
#include <sundry/controls/VELAListCtrl.h>
#include <sundry/controls/VELAListCtrlHiddenSB.h>
#include <sundry/controls/VELAStatic.h>
#endif
#include <sundry/controls/core/ListTipText.h>
#include <sundry/controls/core/ScrollBarLayout.h>

// The RTF loader's macro language and the animated static's picture tables
// (both platforms); the RTF helper, its rich edit pane and the animated
// static (Windows build only).
#include <sundry/controls/RtfCore.h>
#include <sundry/controls/AnimationCore.h>
#if defined(_WIN32)
#include <sundry/controls/RTFHelper.h>
#include <sundry/controls/VELARichEditCtrl.h>
#include <sundry/controls/KoAnimatedStatic.h>
#endif
