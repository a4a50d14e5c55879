// sundry dns show | set: the DNS suffix search list (CDNSSuffixUtil).
//
//   sundry dns show              the list, one suffix a line
//   sundry dns set [SUFFIX...]   replaces the list; no suffix clears it.
//                                Exit 1, the file untouched, when a suffix
//                                is not a DNS name or the file belongs to
//                                a resolver manager (SUNDRY_LOG=stderr
//                                shows the manager's own command)
//
// The list lives in /etc/resolv.conf, or the file $SUNDRY_RESOLV_CONF names.

#include "commands.h"

#include <sundry/platform/sysinfo.h>
#include <sundry/sysinfo/DNSSuffixUtil.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace sundry::cli {
namespace {

void RunShow() {
  CDNSSuffixUtil util;
  CStringArray list;
  if (util.getDNSSuffixList(list) != CDNSSuffixUtil::eOK)
    throw Failure{"cannot read the search list from " + sundry::platform::ResolverConfPath()};
  for (INT_PTR i = 0; i < list.GetSize(); ++i) std::printf("%s\n", list.GetAt(i).GetString());
}

void RunSet(const std::vector<std::string>& suffixes) {
  CStringArray list;
  for (const std::string& s : suffixes) {
    if (!CDNSSuffixUtil::isDNSName(s.c_str())) throw Failure{"not a DNS name: \"" + s + "\"; nothing changed"};
    list.Add(CString(s));
  }
  CDNSSuffixUtil util;
  if (util.setSuffixes(list) != CDNSSuffixUtil::eOK)
    throw Failure{"cannot write the search list to " + sundry::platform::ResolverConfPath() +
                  " (SUNDRY_LOG=stderr tells why)"};
}

void Setup(CLI::App& app) {
  auto suffixes = std::make_shared<std::vector<std::string>>();
  auto* dns = app.add_subcommand("dns", "the DNS suffix search list of the resolver configuration");
  dns->require_subcommand(1);
  dns->add_subcommand("show", "print the list, one suffix a line")->callback([] { RunShow(); });
  auto* set = dns->add_subcommand("set", "replace the list (no suffix clears it)");
  set->add_option("SUFFIX", *suffixes, "a domain suffix, in search order");
  set->callback([suffixes] { RunSet(*suffixes); });
}

}  // namespace

SUNDRY_CLI_FAMILY("dns", 75, Setup);

}  // namespace sundry::cli
