// CEncrypt beside the plain Crypto++ pipelines that do the same work, in
// the same run. Compare each CEncrypt_* figure with its Pipeline_* twin of
// the same size (bytes_per_second); the context line "aes_provider" tells
// whether Crypto++ uses the AES hardware instructions.
//
//   build/bench/crypto_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <sundry/crypto/Encrypt.h>

#include <benchmark/benchmark.h>
#include <cryptopp/aes.h>
#include <cryptopp/base64.h>
#include <cryptopp/cpu.h>
#include <cryptopp/filters.h>
#include <cryptopp/modes.h>

#include <string>
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

std::string PipelineEncrypt(const std::string& plain) {
  CryptoPP::CBC_Mode<CryptoPP::AES>::Encryption enc(KeyBytes(), 32, kIV);
  std::string cipher;
  CryptoPP::StringSource(plain, true,
                         new CryptoPP::StreamTransformationFilter(enc, new CryptoPP::StringSink(cipher)));
  return cipher;
}

void CEncrypt_Encrypt(benchmark::State& state) {
  const std::string plain = Data(state.range(0));
  for (auto _ : state) {
    std::string cipher;
    CEncrypt::Encrypt(plain, kKey, cipher);
    benchmark::DoNotOptimize(cipher.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void Pipeline_Encrypt(benchmark::State& state) {
  const std::string plain = Data(state.range(0));
  for (auto _ : state) {
    std::string cipher = PipelineEncrypt(plain);
    benchmark::DoNotOptimize(cipher.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void CEncrypt_Decrypt(benchmark::State& state) {
  const std::string cipher = PipelineEncrypt(Data(state.range(0)));
  for (auto _ : state) {
    std::string plain;
    if (CEncrypt::Decrypt(cipher, kKey, plain) != 0) state.SkipWithError("decrypt failed");
    benchmark::DoNotOptimize(plain.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void Pipeline_Decrypt(benchmark::State& state) {
  const std::string cipher = PipelineEncrypt(Data(state.range(0)));
  for (auto _ : state) {
    CryptoPP::CBC_Mode<CryptoPP::AES>::Decryption dec(KeyBytes(), 32, kIV);
    std::string plain;
    CryptoPP::StringSource(cipher, true,
                           new CryptoPP::StreamTransformationFilter(dec, new CryptoPP::StringSink(plain)));
    benchmark::DoNotOptimize(plain.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void CEncrypt_Base64Encode(benchmark::State& state) {
  const std::string data = Data(state.range(0));
  for (auto _ : state) {
    std::string text;
    CEncrypt::Base64EncodeBytesToString(data.data(), static_cast<ULONG>(data.size()), text);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void Pipeline_Base64Encode(benchmark::State& state) {
  const std::string data = Data(state.range(0));
  for (auto _ : state) {
    std::string text;
    CryptoPP::StringSource(data, true, new CryptoPP::Base64Encoder(new CryptoPP::StringSink(text), true, 72));
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

std::string Base64Text(size_t n) {
  const std::string data = Data(n);
  std::string text;
  CryptoPP::StringSource(data, true, new CryptoPP::Base64Encoder(new CryptoPP::StringSink(text), true, 72));
  return text;
}

void CEncrypt_Base64Decode(benchmark::State& state) {
  const std::string text = Base64Text(state.range(0));
  std::vector<char> buffer(state.range(0));
  for (auto _ : state) {
    ULONG length = static_cast<ULONG>(buffer.size());
    CEncrypt::Base64DecodeStringToBytes(text, buffer.data(), length);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void Pipeline_Base64Decode(benchmark::State& state) {
  const std::string text = Base64Text(state.range(0));
  std::vector<char> buffer(state.range(0));
  for (auto _ : state) {
    CryptoPP::StringSource(text, true,
                           new CryptoPP::Base64Decoder(new CryptoPP::ArraySink(
                               reinterpret_cast<byte*>(buffer.data()), buffer.size())));
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

constexpr int64_t kSmall = 1 << 10;
constexpr int64_t kLarge = 16 << 20;

BENCHMARK(CEncrypt_Encrypt)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(Pipeline_Encrypt)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(CEncrypt_Decrypt)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(Pipeline_Decrypt)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(CEncrypt_Base64Encode)->Arg(kLarge);
BENCHMARK(Pipeline_Base64Encode)->Arg(kLarge);
BENCHMARK(CEncrypt_Base64Decode)->Arg(kLarge);
BENCHMARK(Pipeline_Base64Decode)->Arg(kLarge);

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
