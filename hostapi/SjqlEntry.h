// SPDX-License-Identifier: MIT
// The entries the module library (libsjql.so) exports.
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

#define SJQL_PLAN_ENTRY_NAME "SjqlPlan"

/* Works out what a run would do, or what the database and an archive hold, without changing
   anything; for the host's dry runs, its check of the free space before a run and its reports.
   Call on the GUI thread, with the value object published (agent, connection, edition).
   request:  a zero-terminated UTF-8 JSON object, {"kind": ...} with
               "clear-plan":   "years": ["2019", ...], "backupDir": text, "checkRows": bool,
                               "declineWarnings": bool
               "restore-plan": "archives": [full path, ...]
               "month-rows":   "periods": ["201901", ...]
               "archive-rows": "archive": full path
   reply:    called once, before the entry returns, with the answer as a zero-terminated UTF-8 JSON
             object (valid during the call only) and `context`.
   Returns 0 when the request was understood (the answer may still report a failure: "ok": false),
   1 for a request it does not understand ({"ok": false, "error": ...}). Never throws. */
typedef void (*SjqlPlanReplyProc)(const char* reply, void* context);
typedef int (*SjqlPlanProc)(const char* request, SjqlPlanReplyProc reply, void* context);

#ifdef __cplusplus
}
#endif
