// SPDX-License-Identifier: MIT
// Host decryption library (GS_CryptZelpDes.so), loaded on demand by path.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* File name of the library in the host application folder, and its entry. */
#define SJQL_DECRYPT_LIBRARY_NAME "GS_CryptZelpDes.so"
#define SJQL_DECRYPT_ENTRY_NAME "CommonDecryptFile"

/* Decrypts `source` into the plain file `destination` with `password` (GBK texts); `reserved` is 0.
   Returns non-zero on success; on failure the destination is not created or left unchanged. */
typedef unsigned char (*CommonDecryptFileProc)(const char* source, const char* destination, const char* password,
                                               int32_t reserved);

#ifdef __cplusplus
}
#endif
