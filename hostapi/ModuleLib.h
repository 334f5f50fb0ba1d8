// SPDX-License-Identifier: MIT
// Host services library (libModuleLib.so): the services the host offers to its sub-application modules.
//
// Contract for every function below:
// - call only on the GUI thread;
// - every `const char*` argument and result is a zero-terminated GBK (code page 936) text;
// - a returned text is owned by the library and stays valid until the same function is called
//   again on the same thread (copy it if you need it longer); a returned text is never null;
// - window handles are QWidget::winId() values, 0 meaning "none";
// - colours are COLORREF values (0x00BBGGRR).
#pragma once

#include "hostapi/ValueObject.h"

#include <stdint.h>

#if defined(SJQL_BUILDING_MODULELIB)
#define SJQL_MODULELIB_API __attribute__((visibility("default")))
#else
#define SJQL_MODULELIB_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uintptr_t SjqlWindowHandle;
typedef uint32_t SjqlColor;

/* Handles, paths and codes of the running host. */
SJQL_MODULELIB_API SjqlWindowHandle GetAppHandle(void);
SJQL_MODULELIB_API SjqlWindowHandle GetMainFrameHandle(void);
SJQL_MODULELIB_API const char* GetAppPath(void);
SJQL_MODULELIB_API const char* GetCurSubAppPath(void);
SJQL_MODULELIB_API const char* GetCurSubAppCode(void);
SJQL_MODULELIB_API const char* GetCurFuncCode(void);

/* Host objects that module windows keep in their context; opaque, never freed by the module. */
SJQL_MODULELIB_API void* GetCurSubAppInfo(void);
SJQL_MODULELIB_API void* GetUserInfoVO(void);
SJQL_MODULELIB_API void* GetCompanyInfoVO(void);
SJQL_MODULELIB_API void* GetCurParentForm(void);
SJQL_MODULELIB_API void* GetgsMainFrameParentForm(void);

/* The value object of the current sub-application; owned by the host, valid until the next call. */
SJQL_MODULELIB_API const SjqlValueObject* GetCurSubAppVo(void);

/* Folders and per-user ini files. Folders end with the path separator. */
SJQL_MODULELIB_API const char* GetSubAppPath(const char* code);
SJQL_MODULELIB_API const char* GetSubAppUserConfigFile(const char* code);
SJQL_MODULELIB_API const char* GetSubAppUserConfigParam(const char* code, const char* section, const char* key,
                                                        const char* defaultValue);
SJQL_MODULELIB_API const char* GetUserConfigParam(const char* section, const char* key, const char* defaultValue);
SJQL_MODULELIB_API void WriteIniValueString(const char* file, const char* section, const char* key, const char* value);
SJQL_MODULELIB_API void WriteIniValueInt(const char* file, const char* section, const char* key, int value);
SJQL_MODULELIB_API int IniFileIsExist(const char* file);

/* Message catalogue. `params` holds up to 255 bytes; several parameters are joined by the byte 0x01. */
SJQL_MODULELIB_API const char* GetMsg(int number, const char* params, int flag);
SJQL_MODULELIB_API void InforMsg(int number, const char* params, int flag);

/* Modal message boxes. ConfirmMsgBoxA returns non-zero when the user confirms. */
SJQL_MODULELIB_API void InfoMsgBox(const char* text, int flags);
SJQL_MODULELIB_API int ConfirmMsgBoxA(const char* text, int flags);

/* Skin. */
SJQL_MODULELIB_API SjqlColor gclModuleBackColor(void);
SJQL_MODULELIB_API SjqlColor gclModuleToolBarColor(void);
SJQL_MODULELIB_API SjqlColor gclTopBarColor(void);
SJQL_MODULELIB_API SjqlColor gclSysFontColor(void);
SJQL_MODULELIB_API int giSysFontSize(void);
SJQL_MODULELIB_API int giSysFontCharSet(void);
/* `window` is a QWidget*; the host restyles its child controls. */
SJQL_MODULELIB_API void SetSkinSchemeCtrls(void* window);

#ifdef __cplusplus
}
#endif
