// SPDX-License-Identifier: MIT
// The value object: the named values a host keeps for one sub-application, in list order.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum SjqlVoKind
{
    SJQL_VO_TEXT = 0,  /* `text` holds a GBK text (never null) */
    SJQL_VO_BOOL = 1,  /* `flag` is 0 or 1 */
    SJQL_VO_OBJECT = 2 /* `object` is a host object reference (may be null) */
} SjqlVoKind;

typedef struct SjqlVoEntry
{
    char name[256]; /* up to 255 characters, zero-terminated GBK; matched without regard to ASCII case */
    int32_t kind;   /* SjqlVoKind */
    const char* text;
    int32_t flag;
    void* object;
} SjqlVoEntry;

/* Entries in list order; the first entry of a name wins. Owned by the host. */
typedef struct SjqlValueObject
{
    int32_t count;
    const SjqlVoEntry* entries;
} SjqlValueObject;

#ifdef __cplusplus
}
#endif
