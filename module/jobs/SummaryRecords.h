// SPDX-License-Identifier: MIT
// An archive's summary records read the way the restore reads them; its dry run reads them with
// the same rules, so that its plan is what the restore then does.
#pragma once

#include <QString>
#include <QStringList>

namespace sjql {

class XmlNode;

// A RECORD's month "SDYF": six ASCII digits whose last two are 01 to 12.
[[nodiscard]] bool IsValidRecordMonth(const QString& month);

// A data file must be named as a bare file in the unpack folder: the summary comes from the
// archive, and a name with a folder part would reach files outside it.
[[nodiscard]] bool IsBareFileName(const QString& name);

// The data files the cleared months (SFQL="Y") of `records` name, each once whatever its case, in
// the order they are named; names that are not bare files are left out (the restore refuses their
// months when it comes to them).
[[nodiscard]] QStringList ClearedMonthDataFiles(const XmlNode& records);

} // namespace sjql
