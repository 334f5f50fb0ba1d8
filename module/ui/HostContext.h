// SPDX-License-Identifier: MIT
// The host context every module window records at creation, and the small drawing pieces the
// window descriptions share (a shape line).
#pragma once

#include <QPen>
#include <QString>
#include <QWidget>

#include <stdint.h>

namespace sjql::ui {

// Handles, paths and host object references of the running host, read from the host services.
// The object references are borrowed: never owned, never dereferenced here.
struct THostContext
{
    QString SavedFuncCode;
    uintptr_t AppHandle = 0;
    uintptr_t MainFrameHandle = 0;
    QString AppPath;
    QString SubAppPath;
    QString SubAppCode;
    QString FuncCode;
    void* SubAppInfo = nullptr;
    const void* SubAppVO = nullptr;
    void* UserInfoVO = nullptr;
    void* CompanyInfoVO = nullptr;
    // Module windows only.
    void* ParentForm = nullptr;
    void* MainFrameParentForm = nullptr;
};

// Fills the fields from AppHandle on, in field order; `moduleFamily` also reads the two parent forms.
// GUI thread only.
void LoadHostContext(THostContext& ctx, bool moduleFamily);

// A rectangle drawn with a pen and an optionally clear brush: the window descriptions use it as a
// one-pixel line (solid or dotted).
class TShape : public QWidget
{
    Q_OBJECT
public:
    explicit TShape(QWidget* parent = nullptr);

    QColor PenColor() const { return FPen.color(); }
    void SetPenColor(const QColor& c);
    void SetPenStyle(Qt::PenStyle style);
    QColor BrushColor() const { return FBrush; }
    void SetBrushColor(const QColor& c);
    void SetBrushClear(bool clear);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPen FPen;
    QColor FBrush = Qt::white;
    bool FBrushClear = false;
};

} // namespace sjql::ui

namespace sjql::ui {

// Skin steps both window families share: the window font (size and colour from the host; the
// character set is kept as a window property, Qt fonts have none) and the window colour.
void ApplyHostFontAndColor(QWidget* window);

// Background colour of a plain widget (panel, tool bar): filled from the palette.
void SetWidgetColor(QWidget* w, const QColor& color);

// Text colour of a label or other plain widget, enabled or not.
void SetTextColor(QWidget* w, const QColor& color);

// Hooks the input-method rule onto every XP edit the window owns that has no enter handler yet.
void HookXPEditsOf(QWidget* window);

// The input-method rule, applied to an edit that receives the focus.
void XPEditEnter(QObject* sender);

} // namespace sjql::ui
