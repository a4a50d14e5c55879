#pragma once
// The cipher settings of the encryption family and the pieces that CEncrypt
// and the streams share. Internal to the library.

#include <cryptopp/aes.h>
#include <cryptopp/modes.h>

#include <cstddef>

namespace sundry::crypto::internal {

constexpr size_t kKeyLength = 32;    // AES-256
constexpr size_t kBlockLength = 16;  // AES block

using CbcEncryption = CryptoPP::CBC_Mode<CryptoPP::AES>::Encryption;
using CbcDecryption = CryptoPP::CBC_Mode<CryptoPP::AES>::Decryption;

// The initialisation vector of every message: "QJQ" and 13 zero bytes.
inline constexpr unsigned char kIV[kBlockLength] = {'Q', 'J', 'Q'};

// The 32 AES key bytes for a caller's key text: the default key when key
// is null or empty, the text itself when its first 32 bytes hold no zero,
// else the text padded with zeros in scratch. The result points into one
// of the three and is valid while scratch is.
const unsigned char* ResolveKey(const char* key, unsigned char (&scratch)[kKeyLength]);

// The number of PKCS #7 padding bytes at the end of a decrypted last
// block, 1 to 16; 0 when the block does not end in valid padding.
size_t PaddingLength(const unsigned char* lastBlock);

// Fills the block after the n (below 16) plain bytes at its start with
// padding: 16 - n bytes of the value 16 - n.
void Pad(unsigned char* block, size_t n);

}  // namespace sundry::crypto::internal
