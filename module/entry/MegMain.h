// SPDX-License-Identifier: MIT
// The library's main unit: the exported ShowSJQL and the placement of the window.
#pragma once

#include <QString>

class QWidget;

namespace sjql {

// Places and shows `form`, then announces it. With a parent: the form becomes its child, fills its
// client area (and follows its size), shows without a border, and the 1282 notice
// "<ModalFormMsg>|<handle>|0|1" is sent when the parameter text holds a non-empty "ModalFormMsg".
// Without a parent: the form floats on top, centred on the host's main window (or the screen), no
// smaller than its minimumSizeHint(); no notice. Every failure is swallowed.
void ShowModuleForm(QWidget* parent, QWidget* form, const QString& paramText);

} // namespace sjql
