// SPDX-License-Identifier: MIT
// The one entry the module library (libsjql.so) exports.
#pragma once

#include "hostapi/ModuleLib.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SJQL_MODULE_LIBRARY_NAME "libsjql.so"
#define SJQL_MODULE_ENTRY_NAME "ShowSJQL"

/* Opens the cleanup window inside the host. Call on the GUI thread.
   appWindow: the host application's window handle.
   container: the host's container widget (a QWidget*) to embed the window in, or null for a floating window.
   params:    address of a variable holding the address of the zero-terminated start parameter text
              ("name=value;name=value", GBK); may be null.
   Never throws and never fails visibly beyond what it shows itself. */
typedef void (*ShowSJQLProc)(SjqlWindowHandle appWindow, void* container, const char* const* params);

#ifdef __cplusplus
}
#endif
