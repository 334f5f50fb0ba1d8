// SPDX-License-Identifier: MIT
// The host's own use of its cipher library: encrypting a plain settings file (the "sysconfig.dat"
// tool). Modules only load the library by path and call CommonDecryptFile (hostapi/CryptZelpDes.h).
#pragma once

#include <stdint.h>

extern "C" {
// Encrypts `source` into `destination` (written whole or not at all). Non-zero on success.
unsigned char CommonEncryptFile(const char* source, const char* destination, const char* password);
unsigned char CommonDecryptFile(const char* source, const char* destination, const char* password, int32_t reserved);
}

namespace sjql::host {
// The password the module passes when it decrypts "sysconfig.dat".
inline constexpr const char* kSysConfigPassword = "wqpt1987";
} // namespace sjql::host
