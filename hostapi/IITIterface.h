// SPDX-License-Identifier: MIT
// Host withholding library (libIITIterface.so), linked by the module at load time.
//
// Both functions take the period ("YYYYMM") and the agent code as zero-terminated GBK texts and a
// pointer to the caller's character pointer, which points at a zero-filled buffer of 256 bytes.
// On failure the library writes a zero-terminated result text of name=value pairs separated by ";"
// (inside values "&eq%" stands for "=" and "&lim%" for ";") into that buffer, never more than 255
// bytes; the pair "resultMsg" carries the text for the user. Call on the GUI thread only: the
// library works on the host's open connection.
#pragma once

#if defined(SJQL_BUILDING_IITITERFACE)
#define SJQL_IIT_API __attribute__((visibility("default")))
#else
#define SJQL_IIT_API
#endif

#define SJQL_IIT_RESULT_BUFFER_SIZE 256

#ifdef __cplusplus
extern "C" {
#endif

/* 0 may be cleared; 1 not to be cleared, no warning; 2 not declared; 3 no feedback; 4 self-check not
   declared; 5 self-check declared without feedback; -1 processing failed. */
SJQL_IIT_API int bCanClearDkdjData(const char* period, const char* agentCode, char** result);

/* 0: the month's rows of the agent were removed from ZCGZXJMXB, FGZXJB and KJSDSBGB. Otherwise the
   clear failed and the result buffer holds the result text. */
SJQL_IIT_API int ClearDKDJData(const char* period, const char* agentCode, char** result);

#ifdef __cplusplus
}
#endif
