// sundry logdb: create, fill, read and inspect record log files.

#include "commands.h"

#include <sundry/logdb/LogDB.h>
#include <sundry/platform/error.h>
#include <sundry/platform/fileops.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace sundry::cli {
namespace {

const char* resultText(int code) {
  switch (code) {
    case 0: return "success";
    case 1: return "a file is already open";
    case 2: return "the file could not be opened";
    case 3: return "the log is not open";
    case 5: return "the new file could not be created";
    case 6: return "the header could not be read in full";
    case 7: return "not a log file (no \"VELA\" magic)";
    case 8: return "unknown header version";
    case 9: return "the type in the file differs";
    case 10: return "the version in the file differs";
    case 11: return "the record length in the file is out of range";
    case 12: return "seeking to the slot failed";
    case 13: return "reading the slot failed";
    case 14: return "writing the slot failed";
    case 15: return "writing the header failed";
    case 16: return "the slot holds a deleted record";
    case 18: return "no more records";
    case 19: return "the log is empty";
    case 23: return "the header's capacity, first or last is out of range";
    case 24: return "the file is shorter than its records";
    case 25: return "argument out of range";
    case 26: return "the log is in use by another program";
    default: return "failed";
  }
}

[[noreturn]] void fail(const std::string& what, int code) {
  throw Failure{what + ": " + resultText(code) + " (" + std::to_string(code) + ")", kFailed};
}

bool exists(const std::string& file) { return GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The header as the file holds it, read without the library's checks.
CLogDB::HeaderInfo headerOf(const std::string& file) {
  CLogDB::HeaderInfo h;
  const int rc = CLogDB::readHeader(file.c_str(), &h);
  if (rc == CLogDB::eOpenFailed) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) throw Failure{file + ": no such file", kFailed};
    const char* text = sundry::platform::ErrorText(error);
    throw Failure{file + ": cannot be read: " + (text != nullptr ? text : "unknown error"), kFailed};
  }
  if (rc != 0) fail(file, rc);
  return h;
}

struct Target {
  std::string file;
  std::string type;  // empty: the file's own
  int64_t version = -1;
};

void addTarget(CLI::App* cmd, Target& t) {
  cmd->add_option("FILE", t.file, "log file")->required();
  cmd->add_option("--type", t.type, "record type expected in the file (default: the file's own)");
  cmd->add_option("--version", t.version, "record version expected in the file (default: the file's own)");
}

// Opens an existing log, checking it; the type and version default to those
// the file names. Returns open's result.
int tryOpen(CLogDB& db, const Target& t, const CLogDB::HeaderInfo& h) {
  return db.open(t.file.c_str(), t.type.empty() ? h.type : t.type.c_str(),
                 t.version < 0 ? h.dwVersion : static_cast<unsigned>(t.version), 0, 1, 0);
}

void openLog(CLogDB& db, const Target& t) {
  const int rc = tryOpen(db, t, headerOf(t.file));
  if (rc != 0) fail(t.file, rc);
}

CLogDB::HeaderInfo headerOf(CLogDB& db) {
  CLogDB::HeaderInfo h;
  const int rc = db.getHeader(&h);
  if (rc != 0) fail("header", rc);
  return h;
}

std::vector<unsigned char> parseData(const std::string& text, const std::string& hex) {
  if (!hex.empty()) {
    std::vector<unsigned char> out;
    std::string digits;
    for (char c : hex) {
      if (std::isspace(static_cast<unsigned char>(c))) continue;
      if (!std::isxdigit(static_cast<unsigned char>(c))) throw Failure{"not a hex digit: " + std::string(1, c), kUsage};
      digits += c;
    }
    if (digits.size() % 2) throw Failure{"odd number of hex digits", kUsage};
    for (size_t i = 0; i < digits.size(); i += 2) out.push_back(static_cast<unsigned char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
  }
  return std::vector<unsigned char>(text.begin(), text.end());
}

void printRecord(LONG slot, const char* status, const unsigned char* data, size_t length) {
  std::printf("slot %ld  %s\n", static_cast<long>(slot), status);
  for (size_t row = 0; data != nullptr && row < length; row += 16) {
    std::printf("  %04zx ", row);
    std::string text;
    for (size_t i = row; i < row + 16; ++i) {
      if (i == row + 8) std::printf(" ");
      if (i < length) {
        std::printf(" %02x", data[i]);
        text += std::isprint(data[i]) ? static_cast<char>(data[i]) : '.';
      } else {
        std::printf("   ");
      }
    }
    std::printf("  |%s|\n", text.c_str());
  }
}

void setup(CLI::App& app) {
  CLI::App* logdb = app.add_subcommand("logdb", "Record log files: a ring of fixed-length records");
  logdb->require_subcommand(1);

  // create
  {
    struct Opts {
      std::string file, type;
      unsigned version = 1;
      LONG reclen = 0, capacity = 0;
      bool truncate = false;
    };
    auto o = std::make_shared<Opts>();
    CLI::App* cmd = logdb->add_subcommand("create", "Create a new, empty log");
    cmd->add_option("FILE", o->file, "log file")->required();
    cmd->add_option("--type", o->type, "record type (its first four characters are kept)")->required();
    cmd->add_option("--version", o->version, "record layout version");
    cmd->add_option("--reclen", o->reclen, "bytes per record")->required();
    cmd->add_option("--capacity", o->capacity, "number of records in the ring")->required();
    cmd->add_flag("--truncate", o->truncate, "replace an existing file");
    cmd->callback([o] {
      if (!o->truncate && exists(o->file))
        throw Failure{o->file + ": exists (use --truncate to replace it)", kFailed};
      if (o->capacity <= 0) throw Failure{"the capacity must be positive", kUsage};
      CLogDB db;
      int rc = db.open(o->file.c_str(), o->type.c_str(), o->version, o->reclen, o->capacity, o->truncate ? 1 : 0);
      if (rc != 0) fail(o->file, rc);
      std::printf("created %s: %ld records of %ld bytes\n", o->file.c_str(), static_cast<long>(o->capacity),
                  static_cast<long>(db.getRecordSize()));
    });
  }

  // append
  {
    struct Opts {
      Target t;
      std::string text, hex;
      LONG stamp = -1;
    };
    auto o = std::make_shared<Opts>();
    CLI::App* cmd = logdb->add_subcommand("append", "Append a record (zero-padded to the record length)");
    addTarget(cmd, o->t);
    auto* text = cmd->add_option("--text", o->text, "record bytes as text");
    auto* hex = cmd->add_option("--hex", o->hex, "record bytes as hex digits");
    text->excludes(hex);
    cmd->add_option("--stamp", o->stamp, "byte offset at which to stamp the append counter");
    cmd->callback([o] {
      CLogDB db;
      openLog(db, o->t);
      std::vector<unsigned char> data = parseData(o->text, o->hex);
      const size_t recLen = static_cast<size_t>(db.getRecordSize());
      if (data.size() > recLen)
        throw Failure{std::to_string(data.size()) + " bytes do not fit a record of " + std::to_string(recLen), kUsage};
      data.resize(recLen, 0);
      int rc = db.setRecord(data.data(), o->stamp, -1);
      if (rc != 0) fail("append", rc);
      std::printf("appended to slot %ld\n", static_cast<long>(db.getLastRecordNumber()));
    });
  }

  // dump
  {
    auto t = std::make_shared<Target>();
    CLI::App* cmd = logdb->add_subcommand("dump", "Print the records of the ring, oldest first");
    addTarget(cmd, *t);
    cmd->callback([t] {
      CLogDB db;
      openLog(db, *t);
      const CLogDB::HeaderInfo h = headerOf(db);
      std::vector<unsigned char> buf(static_cast<size_t>(db.getRecordSize()));
      long live = 0;
      for (LONG slot = h.lFirst; slot != -1;) {
        int rc = db.getRecord(buf.data(), slot);
        if (rc == 0) {
          ++live;
          printRecord(slot, "live", buf.data(), buf.size());
        } else {
          printRecord(slot, rc == 16 ? "deleted" : resultText(rc), nullptr, 0);
        }
        if (slot == h.lLast) break;
        slot = slot + 1 == h.lCapacity ? 0 : slot + 1;
        if (slot == h.lFirst) break;
      }
      std::printf("%ld live records\n", live);
    });
  }

  // search
  {
    struct Opts {
      Target t;
      LONG offset = 0;
      std::string text, hex;
    };
    auto o = std::make_shared<Opts>();
    CLI::App* cmd = logdb->add_subcommand("search", "Print the live records with a key at an offset");
    addTarget(cmd, o->t);
    cmd->add_option("--offset", o->offset, "byte offset of the key in the record");
    auto* text = cmd->add_option("--text", o->text, "key as text");
    auto* hex = cmd->add_option("--hex", o->hex, "key as hex digits");
    text->excludes(hex);
    cmd->callback([o] {
      CLogDB db;
      openLog(db, o->t);
      std::vector<unsigned char> key = parseData(o->text, o->hex);
      if (o->offset < 0 || o->offset + static_cast<LONG>(key.size()) > db.getRecordSize())
        throw Failure{"the key does not fit the record of " + std::to_string(db.getRecordSize()) + " bytes", kUsage};
      std::vector<unsigned char> out(static_cast<size_t>(db.getRecordSize()));
      long found = 0;
      for (int resume = 0; db.search(o->offset, static_cast<LONG>(key.size()), key.data(), resume, out.data());
           resume = 1) {
        ++found;
        printRecord(db.getLastRecordNumber(), "live", out.data(), out.size());
      }
      std::printf("%ld matching records\n", found);
      if (found == 0) throw Failure{"no record matches", kFailed};
    });
  }

  // delete
  {
    struct Opts {
      Target t;
      LONG slot = -1;
    };
    auto o = std::make_shared<Opts>();
    CLI::App* cmd = logdb->add_subcommand("delete", "Mark a slot's record deleted");
    addTarget(cmd, o->t);
    cmd->add_option("SLOT", o->slot, "slot index")->required();
    cmd->callback([o] {
      CLogDB db;
      openLog(db, o->t);
      int rc = db.delRecord(o->slot);
      if (rc != 0) fail("delete", rc);
      std::printf("deleted slot %ld; %ld records in the ring\n", static_cast<long>(o->slot),
                  static_cast<long>(db.getRecordCount()));
    });
  }

  // resize
  {
    struct Opts {
      Target t;
      LONG capacity = 0;
    };
    auto o = std::make_shared<Opts>();
    CLI::App* cmd = logdb->add_subcommand("resize", "Give the log a new capacity, keeping the oldest records");
    addTarget(cmd, o->t);
    cmd->add_option("CAPACITY", o->capacity, "new number of records")->required();
    cmd->callback([o] {
      CLogDB db;
      openLog(db, o->t);
      const CLogDB::HeaderInfo before = headerOf(db);
      if (db.resize(o->capacity) != 1) {
        if (o->capacity == before.lCapacity) {
          std::printf("capacity is already %ld\n", static_cast<long>(o->capacity));
          return;
        }
        throw Failure{"resize to " + std::to_string(o->capacity) + " failed", kFailed};
      }
      std::printf("capacity %ld -> %ld, %ld records kept\n", static_cast<long>(before.lCapacity),
                  static_cast<long>(o->capacity), static_cast<long>(db.getRecordCount()));
    });
  }

  // info
  {
    auto t = std::make_shared<Target>();
    CLI::App* cmd = logdb->add_subcommand("info", "Print the header");
    addTarget(cmd, *t);
    cmd->callback([t] {
      CLogDB::HeaderInfo h = headerOf(t->file);
      CLogDB db;
      const int rc = tryOpen(db, *t, h);
      // Taken again from the open log: no writer is then halfway through.
      if (rc == 0) h = headerOf(db);
      std::printf("file:           %s\n", t->file.c_str());
      std::printf("magic:          %s\n", h.magic);
      std::printf("header version: %ld\n", static_cast<long>(h.lHeaderVersion));
      std::printf("type:           %s\n", h.type);
      std::printf("version:        %lu\n", static_cast<unsigned long>(h.dwVersion));
      std::printf("record length:  %ld\n", static_cast<long>(h.lRecLen));
      std::printf("capacity:       %ld\n", static_cast<long>(h.lCapacity));
      std::printf("first:          %ld\n", static_cast<long>(h.lFirst));
      std::printf("last:           %ld\n", static_cast<long>(h.lLast));
      std::printf("append counter: %ld\n", static_cast<long>(h.lAppendCount));
      std::printf("file size:      %lld\n", static_cast<long long>(h.llFileSize));
      if (rc != 0) {
        std::printf("status:         %s (%d)\n", resultText(rc), rc);
        throw Failure{t->file + ": " + resultText(rc) + " (" + std::to_string(rc) + ")", kFailed};
      }
      std::printf("records:        %ld\n", static_cast<long>(db.getRecordCount()));
      std::printf("status:         ok\n");
    });
  }
}

}  // namespace

SUNDRY_CLI_FAMILY("logdb", 40, setup);

}  // namespace sundry::cli
