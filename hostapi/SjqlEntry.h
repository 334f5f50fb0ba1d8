// SPDX-License-Identifier: MIT
// The entries the module library (libsjql.so) exports: the window, and the scripted tools.
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

/* The module's second entry: the scripted tools of sjql-host that need no window (verify,
   archives). Call on the thread that owns the host's QCoreApplication, after the host has published
   its state (the tools read the module context for their default folders).
   request:  a UTF-8 JSON object, {"command": "<tool>", ...the tool's options}.
   output:   called for everything the tool has to say, in order: channel SJQL_TOOL_LINE a line for
             people ("name=value", UTF-8, no line end), SJQL_TOOL_DOCUMENT the one JSON document of
             the run (UTF-8, once, at the end), SJQL_TOOL_NOTE a message for stderr.
   Returns the exit code for the command (0 done and sound, 1 could not run, 2 a wrong request,
   3 a problem found). Never throws. */
#define SJQL_TOOL_ENTRY_NAME "SjqlRunTool"
enum
{
    SJQL_TOOL_LINE = 1,
    SJQL_TOOL_DOCUMENT = 2,
    SJQL_TOOL_NOTE = 3
};
typedef void (*SjqlToolOutput)(void* context, int channel, const char* utf8Text);
typedef int (*SjqlRunToolProc)(const char* request, SjqlToolOutput output, void* context);

#ifdef __cplusplus
}
#endif
