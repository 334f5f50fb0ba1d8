// SPDX-License-Identifier: MIT
// The host's file cipher: AES-256-GCM with a key derived from the password by PBKDF2-HMAC-SHA256.
//
// File layout: "SJQLCRY1" (8 bytes), salt (16), nonce (12), ciphertext, tag (16). The tag makes a
// wrong password or a damaged file fail cleanly instead of producing garbage plain text.
#include "host/decrypt/CryptZelpDes.h"

#include "hostapi/CryptZelpDes.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <string>
#include <type_traits>
#include <vector>

namespace {

constexpr char kMagic[8] = {'S', 'J', 'Q', 'L', 'C', 'R', 'Y', '1'};
constexpr int kSaltSize = 16;
constexpr int kNonceSize = 12;
constexpr int kTagSize = 16;
constexpr int kKeySize = 32;
constexpr int kIterations = 20000;

bool readFile(const char* path, std::vector<unsigned char>& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Writes beside the destination and renames, so a failure never leaves a half-written file.
bool writeFile(const char* path, const unsigned char* data, size_t size)
{
    const std::string tmp = std::string(path) + ".part";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out.good()) {
            std::remove(tmp.c_str());
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

bool deriveKey(const char* password, const unsigned char* salt, unsigned char* key)
{
    return PKCS5_PBKDF2_HMAC(password, static_cast<int>(std::strlen(password)), salt, kSaltSize, kIterations,
                             EVP_sha256(), kKeySize, key) == 1;
}

struct CipherCtx
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    ~CipherCtx() { EVP_CIPHER_CTX_free(ctx); }
};

} // namespace

extern "C" __attribute__((visibility("default"))) unsigned char
CommonDecryptFile(const char* source, const char* destination, const char* password, int32_t /*reserved*/)
{
    if (!source || !destination || !password)
        return 0;
    std::vector<unsigned char> in;
    if (!readFile(source, in))
        return 0;
    const size_t header = sizeof kMagic + kSaltSize + kNonceSize;
    if (in.size() < header + kTagSize || std::memcmp(in.data(), kMagic, sizeof kMagic) != 0)
        return 0;
    const unsigned char* salt = in.data() + sizeof kMagic;
    const unsigned char* nonce = salt + kSaltSize;
    const unsigned char* cipher = nonce + kNonceSize;
    const int cipherLen = static_cast<int>(in.size() - header - kTagSize);
    unsigned char* tag = in.data() + in.size() - kTagSize;

    unsigned char key[kKeySize];
    if (!deriveKey(password, salt, key))
        return 0;
    CipherCtx c;
    std::vector<unsigned char> plain(static_cast<size_t>(cipherLen) + 16);
    int len = 0;
    int total = 0;
    if (!c.ctx || EVP_DecryptInit_ex(c.ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) != 1 ||
        EVP_DecryptInit_ex(c.ctx, nullptr, nullptr, key, nonce) != 1 ||
        EVP_DecryptUpdate(c.ctx, plain.data(), &len, cipher, cipherLen) != 1)
        return 0;
    total = len;
    if (EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_GCM_SET_TAG, kTagSize, tag) != 1 ||
        EVP_DecryptFinal_ex(c.ctx, plain.data() + total, &len) != 1)
        return 0; // wrong password or damaged file
    total += len;
    return writeFile(destination, plain.data(), static_cast<size_t>(total)) ? 1 : 0;
}

extern "C" __attribute__((visibility("default"))) unsigned char
CommonEncryptFile(const char* source, const char* destination, const char* password)
{
    if (!source || !destination || !password)
        return 0;
    std::vector<unsigned char> plain;
    if (!readFile(source, plain))
        return 0;
    std::vector<unsigned char> out(sizeof kMagic + kSaltSize + kNonceSize);
    // The salt and nonce pointers below must stay valid when the buffer grows for the cipher text.
    out.reserve(out.size() + plain.size() + kTagSize);
    std::memcpy(out.data(), kMagic, sizeof kMagic);
    unsigned char* salt = out.data() + sizeof kMagic;
    unsigned char* nonce = salt + kSaltSize;
    if (RAND_bytes(salt, kSaltSize) != 1 || RAND_bytes(nonce, kNonceSize) != 1)
        return 0;
    unsigned char key[kKeySize];
    if (!deriveKey(password, salt, key))
        return 0;
    CipherCtx c;
    const size_t head = out.size();
    out.resize(head + plain.size() + kTagSize);
    int len = 0;
    if (!c.ctx || EVP_EncryptInit_ex(c.ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) != 1 ||
        EVP_EncryptInit_ex(c.ctx, nullptr, nullptr, key, nonce) != 1 ||
        EVP_EncryptUpdate(c.ctx, out.data() + head, &len, plain.data(), static_cast<int>(plain.size())) != 1)
        return 0;
    int fin = 0;
    if (EVP_EncryptFinal_ex(c.ctx, out.data() + head + len, &fin) != 1)
        return 0;
    const size_t cipherEnd = head + static_cast<size_t>(len + fin);
    if (EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_GCM_GET_TAG, kTagSize, out.data() + cipherEnd) != 1)
        return 0;
    out.resize(cipherEnd + kTagSize);
    return writeFile(destination, out.data(), out.size()) ? 1 : 0;
}

// Keep the exported entry's type in step with the header the module uses.
static_assert(std::is_same_v<decltype(&CommonDecryptFile), CommonDecryptFileProc>);
