// sundry sysinfo: the system report of CGeneralSysInfo.
//
//   sundry sysinfo [--fragment NAME]... [--text]
//        the whole report, or the fragments named (in the order given), as
//        a complete RTF document; --text prints plain text instead
//   sundry sysinfo report --product-dir DIR -o FILE.rtf [--text]
//        the report followed by the listing of every file below DIR,
//        written to FILE
//
// Fragment names: time-zone, boot-time, boot-last, bios, cpu, memory, os,
// service-pack, locale, windows-dir, system-dir, temp-dir, display, drives,
// browser, user, host, domain, adapters.

#include "commands.h"

#include <sundry/sysinfo/GeneralSysInfo.h>
#include <sundry/sysinfo/RtfText.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace sundry::cli {
namespace {

struct SysinfoOptions {
  std::vector<std::string> fragments;
  bool text = false;
  std::string productDir;
  std::string output;
};

using Getter = const char* (CGeneralSysInfo::*)();
const struct {
  const char* name;
  Getter get;
} kFragments[] = {
    {"time-zone", &CGeneralSysInfo::getTimeZone},       {"boot-time", &CGeneralSysInfo::getBootTime},
    {"boot-last", &CGeneralSysInfo::getBootLast},       {"bios", &CGeneralSysInfo::getBIOSVersion},
    {"cpu", &CGeneralSysInfo::getCPU},                  {"memory", &CGeneralSysInfo::getMemeoryInfo},
    {"os", &CGeneralSysInfo::getOSVersion},             {"service-pack", &CGeneralSysInfo::getServicePack},
    {"locale", &CGeneralSysInfo::getLocale},            {"windows-dir", &CGeneralSysInfo::getWindowsDirectory},
    {"system-dir", &CGeneralSysInfo::getSystemDirectory}, {"temp-dir", &CGeneralSysInfo::getTempDirectory},
    {"display", &CGeneralSysInfo::getDisplayMonitor},   {"drives", &CGeneralSysInfo::getVolumes},
    {"browser", &CGeneralSysInfo::getIEVersion},        {"user", &CGeneralSysInfo::getUserName},
    {"host", &CGeneralSysInfo::getHostName},            {"domain", &CGeneralSysInfo::getDomainName},
    {"adapters", &CGeneralSysInfo::getNetworkAdapterInfo},
};

std::string render(const std::string& body, bool text) {
  return text ? sundry::sysinfo::RtfBodyToText(body) + "\n" : sundry::sysinfo::RtfDocument(body) + "\n";
}

void RunShow(const SysinfoOptions& o) {
  CGeneralSysInfo info;
  std::string body;
  if (o.fragments.empty()) body = info.obtainFormattedSysInfo();
  for (const std::string& name : o.fragments) {
    Getter get = nullptr;
    for (const auto& f : kFragments)
      if (name == f.name) get = f.get;
    if (get == nullptr) throw Failure{"unknown fragment \"" + name + "\"", kUsage};
    if (!body.empty()) body += "\\par\n";
    body += (info.*get)();
  }
  const std::string out = render(body, o.text);
  std::fwrite(out.data(), 1, out.size(), stdout);
}

void RunReport(const SysinfoOptions& o) {
  CGeneralSysInfo info;
  info.setProductDirectory(o.productDir.c_str());
  std::string body = info.obtainFormattedSysInfo();
  body += "\\par\\par Product Files:";
  body += info.getProductFiles(nullptr);
  const std::string out = render(body, o.text);
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(o.output.c_str(), "wb"), &std::fclose);
  if (!file || std::fwrite(out.data(), 1, out.size(), file.get()) != out.size() || std::fflush(file.get()) != 0)
    throw Failure{"cannot write " + o.output};
}

void Setup(CLI::App& app) {
  auto opts = std::make_shared<SysinfoOptions>();
  auto* sys = app.add_subcommand("sysinfo", "the system report (RTF)");
  sys->add_option("--fragment", opts->fragments, "only this fragment (repeatable)");
  sys->add_flag("--text", opts->text, "plain text instead of RTF");
  auto* report = sys->add_subcommand("report", "the report and a product folder's file listing, to a file");
  report->add_option("--product-dir", opts->productDir, "the product's installation folder")->required();
  report->add_option("-o,--output", opts->output, "the RTF file to write")->required();
  report->add_flag("--text", opts->text, "plain text instead of RTF");
  report->callback([opts] { RunReport(*opts); });
  sys->callback([opts, report] {
    if (!report->parsed()) RunShow(*opts);
  });
}

}  // namespace

SUNDRY_CLI_FAMILY("sysinfo", 70, Setup);

}  // namespace sundry::cli
