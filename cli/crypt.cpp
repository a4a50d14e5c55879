// sundry crypt: AES-256-CBC encryption and Base64 text with CEncrypt, from
// standard input to standard output.
//
//   sundry crypt encrypt [--key-file FILE] [--base64]
//   sundry crypt decrypt [--key-file FILE] [--base64]
//   sundry crypt b64encode
//   sundry crypt b64decode
//
// Without --key-file the library's default key is used. The key file holds
// the key text: one line ending (LF or CRLF) at its end is not part of it,
// the first 32 bytes are used and a shorter key is padded with zero bytes,
// as CEncrypt does with any key text. With --base64 the cipher text is
// written (encrypt) or read (decrypt) in the library's Base64 text form
// instead of as raw bytes.

#include "commands.h"

#include <sundry/crypto/Encrypt.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace sundry::cli {
namespace {

struct CryptOptions {
  std::string keyFile;
  bool base64 = false;
};

std::string ReadAll(FILE* f, const std::string& what) {
  std::string data;
  std::vector<char> buf(1 << 16);
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) data.append(buf.data(), n);
  if (std::ferror(f)) throw Failure{"cannot read " + what + ": " + std::strerror(errno)};
  return data;
}

std::string ReadStdin() { return ReadAll(stdin, "standard input"); }

void WriteStdout(const std::string& data) {
  if (std::fwrite(data.data(), 1, data.size(), stdout) != data.size() || std::fflush(stdout) != 0)
    throw Failure{std::string("cannot write standard output: ") + std::strerror(errno)};
}

// The key text of --key-file, or an empty string for the default key.
std::string ReadKey(const CryptOptions& opts) {
  if (opts.keyFile.empty()) return {};
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(opts.keyFile.c_str(), "rb"), &std::fclose);
  if (!f) throw Failure{"cannot open key file " + opts.keyFile + ": " + std::strerror(errno)};
  std::string key = ReadAll(f.get(), "key file " + opts.keyFile);
  if (!key.empty() && key.back() == '\n') key.pop_back();
  if (!key.empty() && key.back() == '\r') key.pop_back();
  // An empty text would silently select the default key.
  if (key.empty() || key[0] == '\0') throw Failure{"key file " + opts.keyFile + " holds no key"};
  return key;
}

const char* KeyArg(const std::string& key) { return key.empty() ? nullptr : key.c_str(); }

// The library's block operations take 32-bit lengths.
void CheckBlockSize(const std::string& data) {
  if (data.size() > std::numeric_limits<ULONG>::max())
    throw Failure{"the input is too large (4 GiB at most)"};
}

std::string Base64Encode(const std::string& data) {
  CheckBlockSize(data);
  std::string text;
  if (CEncrypt::Base64EncodeBytesToString(data.data(), static_cast<ULONG>(data.size()), text) != 0)
    throw Failure{"the input is empty"};
  return text;
}

std::string Base64Decode(const std::string& text) {
  // Four text characters make at most three bytes, so one pass suffices.
  const size_t capacity = text.size() / 4 * 3 + 3;
  if (capacity > std::numeric_limits<ULONG>::max()) throw Failure{"the input is too large"};
  std::string data(capacity, '\0');
  ULONG length = static_cast<ULONG>(capacity);
  if (CEncrypt::Base64DecodeStringToBytes(text, data.data(), length) != 0)
    throw Failure{"no Base64 data on standard input"};
  data.resize(length);
  return data;
}

void RunEncrypt(const CryptOptions& opts) {
  const std::string key = ReadKey(opts);
  std::string cipher;
  if (CEncrypt::Encrypt(ReadStdin(), KeyArg(key), cipher) != 0) throw Failure{"encryption failed"};
  WriteStdout(opts.base64 ? Base64Encode(cipher) : cipher);
}

void RunDecrypt(const CryptOptions& opts) {
  const std::string key = ReadKey(opts);
  std::string input = ReadStdin();
  if (opts.base64) input = Base64Decode(input);
  std::string plain;
  if (CEncrypt::Decrypt(std::move(input), KeyArg(key), plain) != 0)
    throw Failure{"cannot decrypt: wrong key, or the input is not a whole cipher text"};
  WriteStdout(plain);
}

void Setup(CLI::App& app) {
  auto* crypt = app.add_subcommand("crypt", "AES-256-CBC encryption and Base64 text, standard input to standard output");
  crypt->require_subcommand(1);
  auto opts = std::make_shared<CryptOptions>();

  auto addKeyOptions = [&](CLI::App* cmd) {
    cmd->add_option("--key-file", opts->keyFile,
                    "file holding the key text (first 32 bytes; one line ending at its end is ignored); "
                    "without it the default key is used")
        ->type_name("FILE");
    cmd->add_flag("--base64", opts->base64, "cipher text as Base64 text instead of raw bytes");
  };

  auto* enc = crypt->add_subcommand("encrypt", "encrypt standard input");
  addKeyOptions(enc);
  enc->callback([opts] { RunEncrypt(*opts); });

  auto* dec = crypt->add_subcommand("decrypt", "decrypt standard input");
  addKeyOptions(dec);
  dec->callback([opts] { RunDecrypt(*opts); });

  crypt->add_subcommand("b64encode", "standard input as Base64 text (72-character lines)")
      ->callback([] { WriteStdout(Base64Encode(ReadStdin())); });
  crypt->add_subcommand("b64decode", "Base64 text on standard input to bytes (other characters are skipped)")
      ->callback([] { WriteStdout(Base64Decode(ReadStdin())); });
}

}  // namespace

SUNDRY_CLI_FAMILY("crypt", 60, Setup);

}  // namespace sundry::cli
