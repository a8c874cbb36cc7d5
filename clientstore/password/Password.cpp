#include "clientstore/password/Password.h"

#include <sodium.h>

#include <cstring>

namespace {

constexpr std::size_t kPlainMax = 63;   // a password field holds 63 bytes and its terminator
constexpr std::size_t kFieldSize = 64;  // the caller's password field
constexpr std::size_t kOutSize = 256;   // the caller's buffer for the enciphered text
constexpr std::size_t kPaddedSize = 64; // every password is padded to this, hiding its length

constexpr unsigned char kFormatVersion = 1;
constexpr std::size_t kNonceSize = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr std::size_t kTagSize = crypto_aead_xchacha20poly1305_ietf_ABYTES;
// Version byte, nonce, then the padded password with its tag.
constexpr std::size_t kBlobSize = 1 + kNonceSize + kPaddedSize + kTagSize;
constexpr int kVariant = sodium_base64_VARIANT_ORIGINAL;
constexpr std::size_t kTextSize = sodium_base64_ENCODED_LEN(kBlobSize, kVariant) - 1;

// A whole number of 3-byte groups leaves base64 without padding and without unused bits, so any
// change to any character of the text changes the bytes it decodes to.
static_assert(kBlobSize % 3 == 0);
static_assert(kTextSize < kOutSize);

// The built-in key. Whoever holds this library holds the key: see Password.h.
constexpr unsigned char kKey[crypto_aead_xchacha20poly1305_ietf_KEYBYTES] = {
    0x8b, 0x65, 0xcd, 0x88, 0x99, 0x10, 0x9e, 0xa4, 0x75, 0x4b, 0xad, 0x21, 0xfe, 0x59, 0x03, 0xb7,
    0xae, 0x01, 0x4d, 0xf7, 0xcf, 0xbf, 0xab, 0xd1, 0x71, 0xd8, 0x6e, 0x03, 0xe1, 0x79, 0x7a, 0x05};

bool sodiumReady() {
    // sodium_init is safe to call from any thread and any number of times.
    return sodium_init() >= 0;
}

} // namespace

extern "C" int EncryptStringEX(const char* plain, char* out, int form) {
    if (out == nullptr) {
        return 0;
    }
    out[0] = '\0';
    if (plain == nullptr || form != PASSWORD_FORM_BASE64 || !sodiumReady()) {
        return 0;
    }
    const std::size_t plainLen = strnlen(plain, kPlainMax + 1);
    if (plainLen > kPlainMax) {
        return 0;
    }

    unsigned char padded[kPaddedSize] = {};
    std::memcpy(padded, plain, plainLen);
    std::size_t paddedLen = 0;
    if (sodium_pad(&paddedLen, padded, plainLen, kPaddedSize, sizeof padded) != 0 ||
        paddedLen != kPaddedSize) {
        sodium_memzero(padded, sizeof padded);
        return 0;
    }

    unsigned char blob[kBlobSize];
    blob[0] = kFormatVersion;
    unsigned char* nonce = blob + 1;
    unsigned char* sealed = nonce + kNonceSize;
    randombytes_buf(nonce, kNonceSize);
    unsigned long long sealedLen = 0;
    // The version byte is authenticated too, so a text cannot be passed off under another form.
    const int rc = crypto_aead_xchacha20poly1305_ietf_encrypt(sealed, &sealedLen, padded, kPaddedSize, blob,
                                                              1, nullptr, nonce, kKey);
    sodium_memzero(padded, sizeof padded);
    if (rc != 0 || sealedLen != kPaddedSize + kTagSize) {
        return 0;
    }
    sodium_bin2base64(out, kOutSize, blob, kBlobSize, kVariant);
    return 1;
}

extern "C" int DecryptStringEX(const char* cipher, char* out, int form) {
    if (out == nullptr) {
        return 0;
    }
    std::memset(out, 0, kFieldSize);
    if (cipher == nullptr || form != PASSWORD_FORM_BASE64 || !sodiumReady()) {
        return 0;
    }
    const std::size_t textLen = strnlen(cipher, kOutSize);
    if (textLen != kTextSize) {
        return 0;
    }

    unsigned char blob[kBlobSize];
    std::size_t blobLen = 0;
    const char* end = nullptr;
    if (sodium_base642bin(blob, sizeof blob, cipher, textLen, nullptr, &blobLen, &end, kVariant) != 0 ||
        blobLen != kBlobSize || end != cipher + textLen || blob[0] != kFormatVersion) {
        return 0;
    }

    const unsigned char* nonce = blob + 1;
    const unsigned char* sealed = nonce + kNonceSize;
    unsigned char padded[kPaddedSize];
    unsigned long long paddedLen = 0;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(padded, &paddedLen, nullptr, sealed,
                                                   kPaddedSize + kTagSize, blob, 1, nonce, kKey) != 0) {
        return 0;
    }
    std::size_t plainLen = 0;
    const bool ok = paddedLen == kPaddedSize &&
                    sodium_unpad(&plainLen, padded, kPaddedSize, kPaddedSize) == 0 && plainLen <= kPlainMax;
    if (ok) {
        std::memcpy(out, padded, plainLen);
    }
    sodium_memzero(padded, sizeof padded);
    return ok ? 1 : 0;
}
