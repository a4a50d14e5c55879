// CEncrypt beside yardsticks that do the same work the fastest honest way,
// in the same run. Compare each CEncrypt_* figure with its Yardstick_* or
// Coreutils_* twin of the same size (bytes_per_second; ratio = CEncrypt /
// twin):
//
//   Yardstick_Encrypt / _Decrypt: Crypto++'s CBC mode with one key schedule
//     per message, ProcessData into a buffer allocated before the timing,
//     and the PKCS #7 padding by hand (added, or checked and cut).
//   Yardstick_EncryptBinary / _DecryptBinary: the same, with Crypto++'s
//     Base64 filters writing into (or reading into) a preallocated buffer.
//   Coreutils_Base64Encode / _Decode: "base64 -w 72" and "base64 -d" over
//     the same bytes in a file (in the page cache) to /dev/null, wall time
//     of the whole process.
//   CryptoPP_Base64Encode / _Decode: Crypto++'s Base64 filters into a
//     preallocated buffer, for reference.
// The Base64 figures are all wall-clock time, since coreutils' can only be
// taken that way; the cipher figures are CPU time.
//
// The CEncrypt figures call the library as a caller does: the argument
// strings stay the caller's own, the result string is reused from one call
// to the next. CEncrypt_*Moved hand the argument over instead (std::move),
// as a caller that no longer needs it can; the copy that they hand over is
// made outside the timing. The context line
// "aes_provider" tells whether Crypto++ uses the AES hardware instructions.
//
//   build/bench/crypto_bench --benchmark_min_time=0.5

#include <sundry/crypto/Encrypt.h>

#include <benchmark/benchmark.h>
#include <cryptopp/aes.h>
#include <cryptopp/base64.h>
#include <cryptopp/cpu.h>
#include <cryptopp/filters.h>
#include <cryptopp/modes.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using CryptoPP::byte;

const char kKey[] = "0123456789abcdefghijklmnopqrstuv";
const byte kIV[16] = {'Q', 'J', 'Q'};
const byte* KeyBytes() { return reinterpret_cast<const byte*>(kKey); }

std::string Data(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 131 + (i >> 8));
  return s;
}

std::string Base64Text(const std::string& data) {
  std::string text;
  CEncrypt::Base64EncodeBytesToString(data.data(), static_cast<ULONG>(data.size()), text);
  return text;
}

std::string Cipher(const std::string& plain) {
  std::string c;
  CEncrypt::Encrypt(plain, kKey, c);
  return c;
}

// --- The cipher, the fastest way Crypto++ allows --------------------------

// Encrypts n bytes into out (room for n + 16); returns the cipher length.
size_t FastEncrypt(const byte* in, size_t n, byte* out) {
  CryptoPP::CBC_Mode<CryptoPP::AES>::Encryption enc(KeyBytes(), 32, kIV);
  const size_t whole = n - n % 16;
  enc.ProcessData(out, in, whole);
  byte last[16];
  std::memcpy(last, in + whole, n - whole);
  std::memset(last + (n - whole), static_cast<int>(16 - (n - whole)), 16 - (n - whole));
  enc.ProcessData(out + whole, last, 16);
  return whole + 16;
}

// Decrypts n cipher bytes into out; returns the plain length, or SIZE_MAX
// when the padding is wrong.
size_t FastDecrypt(const byte* in, size_t n, byte* out) {
  CryptoPP::CBC_Mode<CryptoPP::AES>::Decryption dec(KeyBytes(), 32, kIV);
  dec.ProcessData(out, in, n);
  const byte pad = out[n - 1];
  if (pad == 0 || pad > 16) return SIZE_MAX;
  for (size_t i = n - pad; i < n; ++i)
    if (out[i] != pad) return SIZE_MAX;
  return n - pad;
}

void Yardstick_Encrypt(benchmark::State& state) {
  const std::string plain = Data(state.range(0));
  std::vector<byte> out(plain.size() + 16);
  for (auto _ : state) {
    benchmark::DoNotOptimize(FastEncrypt(reinterpret_cast<const byte*>(plain.data()), plain.size(), out.data()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void CEncrypt_Encrypt(benchmark::State& state) {
  const std::string plain = Data(state.range(0));
  std::string cipher;
  for (auto _ : state) {
    CEncrypt::Encrypt(plain, kKey, cipher);
    benchmark::DoNotOptimize(cipher.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void Yardstick_Decrypt(benchmark::State& state) {
  const std::string cipher = Cipher(Data(state.range(0)));
  std::vector<byte> out(cipher.size());
  for (auto _ : state) {
    if (FastDecrypt(reinterpret_cast<const byte*>(cipher.data()), cipher.size(), out.data()) == SIZE_MAX)
      state.SkipWithError("bad padding");
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void CEncrypt_Decrypt(benchmark::State& state) {
  const std::string cipher = Cipher(Data(state.range(0)));
  std::string plain;
  for (auto _ : state) {
    if (CEncrypt::Decrypt(cipher, kKey, plain) != 0) state.SkipWithError("decrypt failed");
    benchmark::DoNotOptimize(plain.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// The caller hands its string over (std::move); the copy for the next call
// is made outside the timing.
void CEncrypt_EncryptMoved(benchmark::State& state) {
  const std::string plain = Data(state.range(0));
  std::string cipher;
  for (auto _ : state) {
    state.PauseTiming();
    std::string mine = plain;
    state.ResumeTiming();
    CEncrypt::Encrypt(std::move(mine), kKey, cipher);
    benchmark::DoNotOptimize(cipher.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void CEncrypt_DecryptMoved(benchmark::State& state) {
  const std::string cipher = Cipher(Data(state.range(0)));
  std::string plain;
  for (auto _ : state) {
    state.PauseTiming();
    std::string mine = cipher;
    state.ResumeTiming();
    if (CEncrypt::Decrypt(std::move(mine), kKey, plain) != 0) state.SkipWithError("decrypt failed");
    benchmark::DoNotOptimize(plain.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// --- The binary forms: Base64 text, then the cipher ------------------------

void Yardstick_EncryptBinary(benchmark::State& state) {
  const std::string data = Data(state.range(0));
  std::vector<byte> text(data.size() / 54 * 73 + 80), out(text.size() + 16);
  for (auto _ : state) {
    CryptoPP::ArraySink* sink = new CryptoPP::ArraySink(text.data(), text.size());
    CryptoPP::Base64Encoder encoder(sink, true, 72);
    encoder.Put(reinterpret_cast<const byte*>(data.data()), data.size());
    encoder.MessageEnd();
    benchmark::DoNotOptimize(FastEncrypt(text.data(), sink->TotalPutLength(), out.data()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void CEncrypt_EncryptBinary(benchmark::State& state) {
  const std::string data = Data(state.range(0));
  std::string cipher;
  for (auto _ : state) {
    CEncrypt::EncryptBinary(data.data(), static_cast<ULONG>(data.size()), kKey, cipher);
    benchmark::DoNotOptimize(cipher.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void Yardstick_DecryptBinary(benchmark::State& state) {
  const std::string cipher = Cipher(Base64Text(Data(state.range(0))));
  std::vector<byte> text(cipher.size()), out(state.range(0));
  for (auto _ : state) {
    const size_t n = FastDecrypt(reinterpret_cast<const byte*>(cipher.data()), cipher.size(), text.data());
    if (n == SIZE_MAX) state.SkipWithError("bad padding");
    CryptoPP::Base64Decoder decoder(new CryptoPP::ArraySink(out.data(), out.size()));
    decoder.Put(text.data(), n);
    decoder.MessageEnd();
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void CEncrypt_DecryptBinary(benchmark::State& state) {
  const std::string cipher = Cipher(Base64Text(Data(state.range(0))));
  std::vector<char> out(state.range(0));
  for (auto _ : state) {
    ULONG length = static_cast<ULONG>(out.size());
    if (CEncrypt::DecryptBinary(cipher, kKey, out.data(), length) != 0) state.SkipWithError("decrypt failed");
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// --- Base64 -----------------------------------------------------------------

void CEncrypt_Base64Encode(benchmark::State& state) {
  const std::string data = Data(state.range(0));
  std::string text;
  for (auto _ : state) {
    CEncrypt::Base64EncodeBytesToString(data.data(), static_cast<ULONG>(data.size()), text);
    benchmark::DoNotOptimize(text.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void CEncrypt_Base64Decode(benchmark::State& state) {
  const std::string text = Base64Text(Data(state.range(0)));
  std::vector<char> buffer(state.range(0));
  for (auto _ : state) {
    ULONG length = static_cast<ULONG>(buffer.size());
    CEncrypt::Base64DecodeStringToBytes(text, buffer.data(), length);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void CryptoPP_Base64Encode(benchmark::State& state) {
  const std::string data = Data(state.range(0));
  std::vector<byte> text(data.size() / 54 * 73 + 80);
  for (auto _ : state) {
    CryptoPP::Base64Encoder encoder(new CryptoPP::ArraySink(text.data(), text.size()), true, 72);
    encoder.Put(reinterpret_cast<const byte*>(data.data()), data.size());
    encoder.MessageEnd();
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void CryptoPP_Base64Decode(benchmark::State& state) {
  const std::string text = Base64Text(Data(state.range(0)));
  std::vector<byte> buffer(state.range(0));
  for (auto _ : state) {
    CryptoPP::Base64Decoder decoder(new CryptoPP::ArraySink(buffer.data(), buffer.size()));
    decoder.Put(reinterpret_cast<const byte*>(text.data()), text.size());
    decoder.MessageEnd();
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// A file holding the given bytes, removed at exit.
struct TempFile {
  explicit TempFile(const std::string& contents) {
    char name[] = "/tmp/crypto_bench.XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0 || write(fd, contents.data(), contents.size()) != static_cast<ssize_t>(contents.size())) std::abort();
    close(fd);
    path = name;
  }
  ~TempFile() { std::remove(path.c_str()); }
  std::string path;
};

// Runs a command once per iteration and times it on the wall clock.
void RunTimed(benchmark::State& state, const std::string& command) {
  if (std::system(command.c_str()) != 0) state.SkipWithError("command failed");  // warms the page cache
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) state.SkipWithError("command failed");
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void Coreutils_Base64Encode(benchmark::State& state) {
  const TempFile file(Data(state.range(0)));
  RunTimed(state, "base64 -w 72 " + file.path + " > /dev/null");
}

void Coreutils_Base64Decode(benchmark::State& state) {
  const TempFile file(Base64Text(Data(state.range(0))));
  RunTimed(state, "base64 -d " + file.path + " > /dev/null");
}

constexpr int64_t kSmall = 1 << 10;
constexpr int64_t kLarge = 16 << 20;

BENCHMARK(Yardstick_Encrypt)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(CEncrypt_Encrypt)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(Yardstick_Decrypt)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(CEncrypt_Decrypt)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(CEncrypt_EncryptMoved)->Arg(kLarge);
BENCHMARK(CEncrypt_DecryptMoved)->Arg(kLarge);
BENCHMARK(Yardstick_EncryptBinary)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(CEncrypt_EncryptBinary)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(Yardstick_DecryptBinary)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(CEncrypt_DecryptBinary)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(Coreutils_Base64Encode)->Arg(kLarge)->UseManualTime();
BENCHMARK(CEncrypt_Base64Encode)->Arg(kLarge)->UseRealTime();
BENCHMARK(CryptoPP_Base64Encode)->Arg(kLarge)->UseRealTime();
BENCHMARK(Coreutils_Base64Decode)->Arg(kLarge)->UseManualTime();
BENCHMARK(CEncrypt_Base64Decode)->Arg(kLarge)->UseRealTime();
BENCHMARK(CryptoPP_Base64Decode)->Arg(kLarge)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  CryptoPP::AES::Encryption probe(KeyBytes(), 32);
  benchmark::AddCustomContext("aes_provider", probe.AlgorithmProvider());
  benchmark::AddCustomContext("aesni_cpu", CryptoPP::HasAESNI() ? "yes" : "no");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
