// sundry crypt: AES-256-CBC encryption and Base64 text with the library's
// encryption family, from standard input to standard output.
//
//   sundry crypt encrypt [--key-file FILE] [--base64]
//   sundry crypt decrypt [--key-file FILE] [--base64]
//   sundry crypt b64encode
//   sundry crypt b64decode
//
// The output is byte for byte what CEncrypt gives for the whole input, but
// the commands stream: memory stays the same whatever the input size.
// Without --key-file the library's default key is used. The key file's
// first 32 bytes are the key as they stand; a file shorter than that is a
// key text whose one line ending (LF or CRLF) at its end is not part of it,
// padded with zero bytes to 32 as CEncrypt pads any short key text. With
// --base64 the cipher text is written (encrypt) or read (decrypt) in the
// library's Base64 text form instead of as raw bytes.
//
// A refused input (bad padding, wrong key, a cut cipher text, data after
// the Base64 padding, no data) ends with exit status 1 and a message. The
// output of the last chunk of input (1 MiB), and of the last cipher block,
// is written only once the input has been checked to its end, so an input
// of up to 1 MiB leaves nothing on standard output when it is refused. A
// longer one has had its earlier output written by then; the message then
// says that the output is incomplete, and it is not to be used.

#include "commands.h"

#include <sundry/crypto/CryptStream.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace sundry::cli {
namespace {

using sundry::crypto::Base64DecodeStream;
using sundry::crypto::Base64EncodeStream;
using sundry::crypto::DecryptStream;
using sundry::crypto::EncryptStream;

struct CryptOptions {
  std::string keyFile;
  bool base64 = false;
};

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

// Standard input is read a chunk at a time, and each chunk's output is
// written before the next chunk is read.
constexpr size_t kChunk = size_t{1} << 20;

std::unique_ptr<char[]> Buffer(size_t n) { return std::unique_ptr<char[]>(new char[n]); }

// Reads up to kChunk bytes and tells whether they are the last: a full
// chunk is followed by a look at the next byte, so that an input of an
// exact number of chunks has its end known with its last chunk.
size_t ReadChunk(char* buf, bool& end) {
  const size_t n = std::fread(buf, 1, kChunk, stdin);
  end = n < kChunk;
  if (!end) {
    const int next = std::getc(stdin);
    end = next == EOF || std::ungetc(next, stdin) == EOF;
  }
  if (std::ferror(stdin)) throw Failure{std::string("cannot read standard input: ") + std::strerror(errno)};
  return n;
}

// Standard output, and whether anything has gone to it: a refusal after
// that says that the output is incomplete.
struct Output {
  bool written = false;

  void Write(const char* data, size_t n) {
    if (n == 0) return;
    written = true;
    if (std::fwrite(data, 1, n, stdout) != n)
      throw Failure{std::string("cannot write standard output: ") + std::strerror(errno)};
  }
  void Flush() {
    if (std::fflush(stdout) != 0) throw Failure{std::string("cannot write standard output: ") + std::strerror(errno)};
  }
  Failure Refused(const std::string& why) const {
    return Failure{written ? why + "; the output written so far is incomplete and not to be used" : why};
  }
};

const char kNoBase64[] = "no Base64 data on standard input, or data after the \"=\" padding";
const char kCannotDecrypt[] = "cannot decrypt: wrong key, or the input is not a whole cipher text";

template <class Stream>
void MakeCipher(std::optional<Stream>& s, const Key& key) {
  if (key.given)
    s.emplace(key.bytes);
  else
    s.emplace(nullptr);
  if (!s->ok()) throw Failure{"out of memory"};
}

void RunEncrypt(const CryptOptions& opts) {
  std::optional<EncryptStream> cipher;
  MakeCipher(cipher, ReadKey(opts));
  Base64EncodeStream text;
  auto in = Buffer(kChunk), mid = Buffer(kChunk + 32);
  auto out = Buffer(Base64EncodeStream::UpdateRoom(kChunk + 32) + Base64EncodeStream::kFinalRoom);
  Output output;
  for (bool end = false; !end;) {
    const size_t n = ReadChunk(in.get(), end);
    size_t m = cipher->Update(in.get(), n, mid.get());
    if (end) m += cipher->Final(mid.get() + m);
    if (!opts.base64) {
      output.Write(mid.get(), m);
      continue;
    }
    size_t t = text.Update(mid.get(), m, out.get());
    if (end) t += text.Final(out.get() + t);
    output.Write(out.get(), t);
  }
  output.Flush();
}

void RunDecrypt(const CryptOptions& opts) {
  std::optional<DecryptStream> cipher;
  MakeCipher(cipher, ReadKey(opts));
  Base64DecodeStream text;
  auto in = Buffer(kChunk), mid = Buffer(kChunk), out = Buffer(kChunk + 32);
  Output output;
  for (bool end = false; !end;) {
    size_t n = ReadChunk(in.get(), end);
    const char* cipherText = in.get();
    if (opts.base64) {
      size_t decoded = 0;
      if (!text.Update(in.get(), n, mid.get(), decoded)) throw output.Refused(kNoBase64);
      if (end) decoded += text.Final(mid.get() + decoded);
      if (end && text.total() == 0) throw output.Refused(kNoBase64);
      cipherText = mid.get();
      n = decoded;
    }
    size_t m = cipher->Update(cipherText, n, out.get());
    if (end) {
      size_t last = 0;
      if (!cipher->Final(out.get() + m, last)) throw output.Refused(kCannotDecrypt);
      m += last;
    }
    output.Write(out.get(), m);
  }
  output.Flush();
}

void RunBase64Encode() {
  Base64EncodeStream text;
  auto in = Buffer(kChunk), out = Buffer(Base64EncodeStream::UpdateRoom(kChunk) + Base64EncodeStream::kFinalRoom);
  Output output;
  for (bool end = false; !end;) {
    const size_t n = ReadChunk(in.get(), end);
    size_t t = text.Update(in.get(), n, out.get());
    if (end) {
      if (text.total() == 0) throw Failure{"the input is empty"};
      t += text.Final(out.get() + t);
    }
    output.Write(out.get(), t);
  }
  output.Flush();
}

void RunBase64Decode() {
  Base64DecodeStream text;
  auto in = Buffer(kChunk), out = Buffer(Base64DecodeStream::UpdateRoom(kChunk) + Base64DecodeStream::kFinalRoom);
  Output output;
  for (bool end = false; !end;) {
    const size_t n = ReadChunk(in.get(), end);
    size_t m = 0;
    if (!text.Update(in.get(), n, out.get(), m)) throw output.Refused(kNoBase64);
    if (end) {
      m += text.Final(out.get() + m);
      if (text.total() == 0) throw output.Refused(kNoBase64);
    }
    output.Write(out.get(), m);
  }
  output.Flush();
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

  auto* dec = crypt->add_subcommand(
      "decrypt",
      "decrypt standard input. The plain text is written as it is decrypted, except the last cipher block and the "
      "last 1 MiB of input, which are written only once the padding at the end checks out. A wrong key or a damaged "
      "or cut cipher text ends with exit status 1 and a message: an input of up to 1 MiB has then written nothing; "
      "from a longer one the output written is incomplete, as the message says, and not to be used");
  addKeyOptions(dec);
  dec->callback([opts] { RunDecrypt(*opts); });

  crypt->add_subcommand("b64encode", "standard input as Base64 text (72-character lines)")->callback(RunBase64Encode);
  crypt->add_subcommand("b64decode",
                        "Base64 text on standard input to bytes (other characters are skipped; nothing may follow the "
                        "padding; a refused text ends with exit status 1, as decrypt)")
      ->callback(RunBase64Decode);
}

}  // namespace

SUNDRY_CLI_FAMILY("crypt", 60, Setup);

}  // namespace sundry::cli
