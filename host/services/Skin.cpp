// SPDX-License-Identifier: MIT
// SetSkinSchemeCtrls: the host restyles a module window's child controls with its skin.
#include "HostServicesAdmin.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QLineEdit>
#include <QPalette>
#include <QWidget>

namespace sjql::host {

// Colours and font of the skin for every child control: the host's text colour, font size and, for
// buttons, the tool-bar colour. A control whose colours or font the window set itself keeps them
// (that is how a red warning label stays red): the skin marks what it set, colours and font apart,
// and on a later pass (a skin change, message 1303) sets again only what it set before, plus what
// is new and still has the toolkit's defaults.
void applySkin(QWidget* window)
{
    if (!window)
        return;
    static constexpr const char* kSkinnedPalette = "sjqlSkinnedPalette";
    static constexpr const char* kSkinnedFont = "sjqlSkinnedFont";
    const HostState& s = state();
    const QColor back = fromColorRef(s.moduleBackColor);
    const QColor bar = fromColorRef(s.moduleToolBarColor);
    const QColor text = fromColorRef(s.sysFontColor);
    const QList<QWidget*> children = window->findChildren<QWidget*>();
    for (QWidget* child : children) {
        if (child->property(kSkinnedPalette).toBool() || !child->testAttribute(Qt::WA_SetPalette)) {
            QPalette pal = child->palette();
            pal.setColor(QPalette::Window, back);
            pal.setColor(QPalette::WindowText, text);
            pal.setColor(QPalette::ButtonText, text);
            if (qobject_cast<QAbstractButton*>(child))
                pal.setColor(QPalette::Button, bar);
            if (qobject_cast<QLineEdit*>(child) || qobject_cast<QAbstractItemView*>(child))
                pal.setColor(QPalette::Text, text);
            child->setPalette(pal);
            child->setProperty(kSkinnedPalette, true);
        }
        if (s.sysFontSize > 0 && (child->property(kSkinnedFont).toBool() || !child->testAttribute(Qt::WA_SetFont))) {
            QFont font = child->font();
            font.setPointSize(s.sysFontSize);
            child->setFont(font);
            child->setProperty(kSkinnedFont, true);
        }
    }
}

} // namespace sjql::host
