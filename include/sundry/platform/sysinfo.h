#pragma once
// System information (the Win32 functions a system report asks) and the
// resolver configuration file.
//
// On Linux every fact comes from the system's own sources: procfs, sysfs,
// /etc, the C library. Those files are read below the system root of the
// POSIX port: $SUNDRY_SYSTEM_ROOT (default "/") with sysfs at
// $SUNDRY_SYSFS_ROOT when that is set, so tests can point every reader at a
// small tree of their own. No function here queries the network.
//
// Unless stated otherwise, every function is thread-safe, sets the
// thread's last error on failure and never throws.

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>

#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// The resolver configuration file (Linux's counterpart of the adapters'
// DNS suffix search order). Not Win32 functions: the library's own.
namespace sundry::platform {

// The file: $SUNDRY_RESOLV_CONF when set and not empty, else /etc/resolv.conf
// below the system root.
SUNDRY_EXPORT std::string ResolverConfPath();

// Reads the search list as the C library's resolver takes it: lines that
// begin with "#" or ";" are comments; a line "search" followed by a blank
// or tab and at least one name sets the list to the names of the line
// (separated by blanks and tabs); a line "domain" so followed sets the list
// to its first name; the last such line wins. No such line: the list is
// empty (the resolver would then fall back on the host name's domain,
// which is not part of the file). Returns ERROR_SUCCESS with the list in
// *suffixes; ERROR_FILE_NOT_FOUND when the file does not exist (*suffixes
// empty: the resolver then has no list either); another code when it cannot
// be read.
SUNDRY_EXPORT DWORD ReadResolverSearchList(std::vector<std::string>* suffixes);

// Replaces the search list. Only the line that decides the list (the last
// "search" or "domain" line) is rewritten, to "search" and the names
// separated by blanks; every other byte of the file stays. An empty list
// removes every "search" and "domain" line (leaving one would bring an
// earlier one back into force). Without such a line the new one is
// appended; a missing file is created holding it.
//
// The file is replaced atomically (a new file beside it, committed, then
// renamed over it, keeping its permissions). Where the rename is refused
// because the file is a mount point of its own (EBUSY: a bind-mounted file,
// as containers have), it is rewritten in place instead.
//
// Returns ERROR_SUCCESS. ERROR_INVALID_PARAMETER, with nothing written,
// when a name is empty or holds a blank, a control character or "#" or ";".
// ERROR_NOT_SUPPORTED, with nothing written, when the file is a symbolic
// link into a resolver manager's runtime folder (systemd-resolved's
// /run/systemd/resolve, NetworkManager's /run/NetworkManager, resolvconf's
// /run/resolvconf): the manager would rewrite it behind the caller's back;
// *manager then holds the manager's name and *command the manager's own
// command that changes the list. Otherwise the code of the failed read or
// write, the file unchanged.
SUNDRY_EXPORT DWORD WriteResolverSearchList(const std::vector<std::string>& suffixes, std::string* manager,
                                            std::string* command);

}  // namespace sundry::platform
