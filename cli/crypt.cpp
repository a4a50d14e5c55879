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
// output is held back until more than 1 MiB of it is waiting, and the last
// of it, the last cipher block's plain text always included, is written
// only once the input has been checked to its end: an output of up to
// 1 MiB (so a cipher text of up to 1 MiB) is never written when the input
// is refused. From a longer one the earlier output has been written by
// then; the message then says that it is incomplete and not to be used.

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

// Standard input is read in pieces of kPiece bytes, small enough for the
// processor's cache, and the output is held in a buffer of its own until
// more than kHold bytes are waiting.
constexpr size_t kPiece = size_t{1} << 16;
constexpr size_t kHold = size_t{1} << 20;
constexpr size_t kRoom = 2 * kPiece;  // the most output one piece makes

std::unique_ptr<char[]> Buffer(size_t n) { return std::unique_ptr<char[]>(new char[n]); }

// Reads up to kPiece bytes and tells whether they are the last: a full
// piece is followed by a look at the next byte, so that the end of an input
// of an exact number of pieces is known with its last piece.
size_t ReadPiece(char* buf, bool& end) {
  const size_t n = std::fread(buf, 1, kPiece, stdin);
  end = n < kPiece;
  if (!end) {
    const int next = std::getc(stdin);
    end = next == EOF || std::ungetc(next, stdin) == EOF;
  }
  if (std::ferror(stdin)) throw Failure{std::string("cannot read standard input: ") + std::strerror(errno)};
  return n;
}

// Standard output through a buffer that holds up to kHold bytes back: they
// go out when more is waiting, and the rest at the end only once the whole
// input has been checked. A refusal drops what is held and says whether
// anything had gone out before.
class Output {
 public:
  // Room for up to kRoom more bytes.
  char* Room() {
    if (m_used > kHold) Drain();
    return m_buf.get() + m_used;
  }
  void Commit(size_t n) { m_used += n; }
  void Finish() {
    Drain();
    if (std::fflush(stdout) != 0) throw Failure{std::string("cannot write standard output: ") + std::strerror(errno)};
  }
  Failure Refused(const std::string& why) const {
    return Failure{m_written ? why + "; the output written so far is incomplete and not to be used" : why};
  }

 private:
  void Drain() {
    if (m_used == 0) return;
    m_written = true;
    if (std::fwrite(m_buf.get(), 1, m_used, stdout) != m_used)
      throw Failure{std::string("cannot write standard output: ") + std::strerror(errno)};
    m_used = 0;
  }
  std::unique_ptr<char[]> m_buf = Buffer(kHold + kRoom);
  size_t m_used = 0;
  bool m_written = false;
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
  auto in = Buffer(kPiece), mid = Buffer(kPiece + 32);
  Output output;
  for (bool end = false; !end;) {
    const size_t n = ReadPiece(in.get(), end);
    char* dst = opts.base64 ? mid.get() : output.Room();
    size_t m = cipher->Update(in.get(), n, dst);
    if (end) m += cipher->Final(dst + m);
    if (opts.base64) {
      char* out = output.Room();
      m = text.Update(mid.get(), m, out);
      if (end) m += text.Final(out + m);
    }
    output.Commit(m);
  }
  output.Finish();
}

void RunDecrypt(const CryptOptions& opts) {
  std::optional<DecryptStream> cipher;
  MakeCipher(cipher, ReadKey(opts));
  Base64DecodeStream text;
  auto in = Buffer(kPiece), mid = Buffer(kPiece);
  Output output;
  for (bool end = false; !end;) {
    size_t n = ReadPiece(in.get(), end);
    const char* cipherText = in.get();
    if (opts.base64) {
      size_t decoded = 0;
      if (!text.Update(in.get(), n, mid.get(), decoded)) throw output.Refused(kNoBase64);
      if (end) decoded += text.Final(mid.get() + decoded);
      if (end && text.total() == 0) throw output.Refused(kNoBase64);
      cipherText = mid.get();
      n = decoded;
    }
    char* out = output.Room();
    size_t m = cipher->Update(cipherText, n, out);
    if (end) {
      size_t last = 0;
      if (!cipher->Final(out + m, last)) throw output.Refused(kCannotDecrypt);
      m += last;
    }
    output.Commit(m);
  }
  output.Finish();
}

void RunBase64Encode() {
  Base64EncodeStream text;
  auto in = Buffer(kPiece);
  Output output;
  for (bool end = false; !end;) {
    const size_t n = ReadPiece(in.get(), end);
    char* out = output.Room();
    size_t m = text.Update(in.get(), n, out);
    if (end) {
      if (text.total() == 0) throw Failure{"the input is empty"};
      m += text.Final(out + m);
    }
    output.Commit(m);
  }
  output.Finish();
}

void RunBase64Decode() {
  Base64DecodeStream text;
  auto in = Buffer(kPiece);
  Output output;
  for (bool end = false; !end;) {
    const size_t n = ReadPiece(in.get(), end);
    char* out = output.Room();
    size_t m = 0;
    if (!text.Update(in.get(), n, out, m)) throw output.Refused(kNoBase64);
    if (end) {
      m += text.Final(out + m);
      if (text.total() == 0) throw output.Refused(kNoBase64);
    }
    output.Commit(m);
  }
  output.Finish();
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
      "decrypt standard input. The plain text is written as it is decrypted, in parts of 1 MiB; the last part, "
      "with the last block's plain text, only once the padding at the end checks out. A wrong key or a damaged "
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
