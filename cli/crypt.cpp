// sundry crypt: AES-256-CBC encryption and Base64 text with CEncrypt, from
// standard input to standard output.
//
//   sundry crypt encrypt [--key-file FILE] [--base64]
//   sundry crypt decrypt [--key-file FILE] [--base64]
//   sundry crypt b64encode
//   sundry crypt b64decode
//
// Without --key-file the library's default key is used. The key file's
// first 32 bytes are the key as they stand; a file shorter than that is a
// key text whose one line ending (LF or CRLF) at its end is not part of it,
// padded with zero bytes to 32 as CEncrypt pads any short key text. With --base64 the cipher text is
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

// The key of --key-file: the file is bytes, and its first 32 bytes are the
// key as they stand, zero bytes included. A file shorter than 32 bytes is a
// key typed as text: one line ending (LF or CRLF) at its end is not part of
// it, and it is padded with zero bytes to 32, as the library pads a short
// key text. An empty key file is refused rather than taken as a key of
// zeros. Only the first 32 bytes are ever read, so a device or a huge file
// cannot make the tool read without end.
struct Key {
  bool given = false;
  unsigned char bytes[32] = {};
};

Key ReadKey(const CryptOptions& opts) {
  Key key;
  if (opts.keyFile.empty()) return key;
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(opts.keyFile.c_str(), "rb"), &std::fclose);
  if (!f) throw Failure{"cannot open key file " + opts.keyFile + ": " + std::strerror(errno)};
  size_t n = std::fread(key.bytes, 1, sizeof key.bytes, f.get());
  if (std::ferror(f.get())) throw Failure{"cannot read key file " + opts.keyFile + ": " + std::strerror(errno)};
  if (n < sizeof key.bytes) {
    if (n > 0 && key.bytes[n - 1] == '\n') key.bytes[--n] = 0;
    if (n > 0 && key.bytes[n - 1] == '\r') key.bytes[--n] = 0;
  }
  if (n == 0) throw Failure{"key file " + opts.keyFile + " holds no key"};
  key.given = true;
  return key;
}

int Encrypt(std::string plain, const Key& key, std::string& cipher) {
  return key.given ? CEncrypt::EncryptWithKey(std::move(plain), key.bytes, cipher)
                   : CEncrypt::Encrypt(std::move(plain), nullptr, cipher);
}

int Decrypt(std::string cipher, const Key& key, std::string& plain) {
  return key.given ? CEncrypt::DecryptWithKey(std::move(cipher), key.bytes, plain)
                   : CEncrypt::Decrypt(std::move(cipher), nullptr, plain);
}

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
    throw Failure{"no Base64 data on standard input, or data after the \"=\" padding"};
  data.resize(length);
  return data;
}

void RunEncrypt(const CryptOptions& opts) {
  const Key key = ReadKey(opts);
  std::string cipher;
  if (Encrypt(ReadStdin(), key, cipher) != 0) throw Failure{"encryption failed"};
  WriteStdout(opts.base64 ? Base64Encode(cipher) : cipher);
}

void RunDecrypt(const CryptOptions& opts) {
  const Key key = ReadKey(opts);
  std::string input = ReadStdin();
  if (opts.base64) input = Base64Decode(input);
  std::string plain;
  if (Decrypt(std::move(input), key, plain) != 0)
    throw Failure{"cannot decrypt: wrong key, or the input is not a whole cipher text"};
  WriteStdout(plain);
}

void Setup(CLI::App& app) {
  auto* crypt = app.add_subcommand("crypt", "AES-256-CBC encryption and Base64 text, standard input to standard output");
  crypt->require_subcommand(1);
  auto opts = std::make_shared<CryptOptions>();

  auto addKeyOptions = [&](CLI::App* cmd) {
    cmd->add_option("--key-file", opts->keyFile,
                    "file holding the key: its first 32 bytes as they are; a shorter file is key text (one line "
                    "ending at its end is ignored) padded with zero bytes; "
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
  crypt->add_subcommand("b64decode", "Base64 text on standard input to bytes (other characters are skipped; nothing may follow the padding)")
      ->callback([] { WriteStdout(Base64Decode(ReadStdin())); });
}

}  // namespace

SUNDRY_CLI_FAMILY("crypt", 60, Setup);

}  // namespace sundry::cli
