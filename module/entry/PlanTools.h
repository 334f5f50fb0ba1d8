// SPDX-License-Identifier: MIT
// The plans of the module's tool entry (SjqlRunTool): the host's way to the dry runs and to the
// accounting of its reports (jobs/DryRun.h). Window-free: the plans take what a run would take
// from the module context, and the backup folder from the request, as the host reads it off the
// cleanup window (or is given it on its command line), so a dry run shows nothing.
//
// Requests ("command"): "clear-plan" (years, backupDir, checkRows, declineWarnings),
// "restore-plan" (archives), "month-rows" (periods), "archive-rows" (archive). GUI thread only.
#pragma once

#include <QJsonObject>

namespace sjql {

// The answer to a plan request; empty for a command that is not one of the plans.
[[nodiscard]] QJsonObject AnswerPlanRequest(const QJsonObject& request);

} // namespace sjql
