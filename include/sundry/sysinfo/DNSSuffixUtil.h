#pragma once
// CDNSSuffixUtil: the machine's DNS suffix search list, the ordered domain
// suffixes the resolver appends to unqualified host names.
//
// On this platform the list is the "search" setting of the resolver
// configuration file (/etc/resolv.conf, or $SUNDRY_RESOLV_CONF), read with
// the C library's own rules: the last "search" or "domain" line wins (see
// ReadResolverSearchList in <sundry/platform/sysinfo.h>). Every call reads
// or writes the file afresh, so the list is never stale; the constructor
// only prepares and never writes anything.
//
// Results (eERROR): 0 success; 1 failure (the file cannot be read or
// written, a suffix is not a DNS name, or a resolver manager owns the
// file); 2 the object is not initialised (never the case here: the file
// needs no set-up, and its absence is reported per call).
//
// setSuffixes accepts only DNS names: labels of 1 to 63 letters, digits,
// hyphens or underscores (no hyphen at either end), joined by dots, at most
// 253 characters, with one optional final dot. Anything else (a blank, a
// line feed, an empty string) fails the whole call and leaves the file
// byte for byte as it was. When the file is a link into systemd-resolved's,
// NetworkManager's or resolvconf's runtime folder, setSuffixes writes
// nothing, logs (category "Error") the manager's own command for the change
// and returns 1.
//
// Debug-log scopes "CDNSSuffixUtil::CDNSSuffixUtil",
// "CDNSSuffixUtil::~CDNSSuffixUtil", "CDNSSuffixUtil::getDNSSuffixList",
// "CDNSSuffixUtil::SetSuffixes"; messages "Init = %d, Registry = %d, HR =
// 0x%x" (constructor), "working..." and, per suffix read, category "Suffix"
// with the suffix; "Success" after a write.
//
// An object belongs to one thread at a time. Copies are independent.

#include <sundry/export.h>
#include <sundry/platform/Collections.h>
#include <sundry/platform/wintypes.h>
#include <sundry/registry/RegistryValue.h>

class SUNDRY_EXPORT CDNSSuffixUtil {
 public:
  enum eERROR { eOK = 0, eFAILED = 1, eNOT_INITIALIZED = 2 };

  CDNSSuffixUtil();
  CDNSSuffixUtil(const CDNSSuffixUtil& other);
  CDNSSuffixUtil& operator=(const CDNSSuffixUtil& other);
  virtual ~CDNSSuffixUtil();

  // Empties suffixes, then fills it with the current list, in order.
  eERROR getDNSSuffixList(CStringArray& suffixes);
  // Replaces the list by suffixes, in order; an empty array clears it.
  eERROR setSuffixes(CStringArray& suffixes);

  // True when text is a DNS name setSuffixes accepts.
  static bool isDNSName(const char* text);

 protected:
  BOOL m_bInit;
  LONG m_hr;
  void* m_pServices;  // no management service on this platform: always null
  CRegistryValue m_SearchList;  // unused on this platform
  BOOL m_bRegistry;
};
