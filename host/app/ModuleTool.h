// SPDX-License-Identifier: MIT
// The module's scripted tools (SjqlRunTool of libsjql.so) for the commands that need the module's
// code but no window: verify, archives. The host loads the library as it does for the window and
// hands it a JSON request; the module answers with lines and one JSON document.
#pragma once

#include "Commands.h"

#include <QJsonObject>

namespace sjql::host {

// Runs the tool the request names. Lines for people go to stdout, or to stderr when `json` is set,
// the document then alone to stdout; the module's messages go to stderr. Returns the tool's exit
// code, or fails (1) when the library or its entry cannot be loaded.
int runModuleTool(const QJsonObject& request, bool json);

// A tool that could not run: as failRun ("result=not done: ..." last on stdout, exit 1), but with
// `json` stdout stays empty, kept for the document only, and the message goes to stderr alone.
int failTool(const QString& message, bool json);

} // namespace sjql::host
