// SPDX-License-Identifier: MIT
#include "ui/HostContext.h"

#include "hostapi/Gbk.h"
#include "hostapi/ModuleLib.h"

#include <QPainter>

namespace sjql::ui {

void LoadHostContext(THostContext& ctx, bool moduleFamily)
{
    ctx.AppHandle = GetAppHandle();
    ctx.MainFrameHandle = GetMainFrameHandle();
    ctx.AppPath = fromGbk(GetAppPath());
    ctx.SubAppPath = fromGbk(GetCurSubAppPath());
    ctx.SubAppCode = fromGbk(GetCurSubAppCode());
    ctx.FuncCode = fromGbk(GetCurFuncCode());
    ctx.SubAppInfo = GetCurSubAppInfo();
    ctx.SubAppVO = GetCurSubAppVo();
    ctx.UserInfoVO = GetUserInfoVO();
    ctx.CompanyInfoVO = GetCompanyInfoVO();
    if (moduleFamily) {
        ctx.ParentForm = GetCurParentForm();
        ctx.MainFrameParentForm = GetgsMainFrameParentForm();
    }
}

TShape::TShape(QWidget* parent) : QWidget(parent), FPen(Qt::black, 1) {}

void TShape::SetPenColor(const QColor& c)
{
    FPen.setColor(c);
    update();
}

void TShape::SetPenStyle(Qt::PenStyle style)
{
    FPen.setStyle(style);
    update();
}

void TShape::SetBrushColor(const QColor& c)
{
    FBrush = c;
    update();
}

void TShape::SetBrushClear(bool clear)
{
    FBrushClear = clear;
    update();
}

void TShape::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (!FBrushClear)
        p.fillRect(rect(), FBrush);
    // A shape of height or width 1 is the pen line alone.
    p.setPen(FPen);
    p.setBrush(Qt::NoBrush);
    if (height() <= 1)
        p.drawLine(0, 0, width() - 1, 0);
    else if (width() <= 1)
        p.drawLine(0, 0, 0, height() - 1);
    else
        p.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace sjql::ui

#include "ui/UiColor.h"
#include "ui/XPControls.h"

namespace sjql::ui {

void ApplyHostFontAndColor(QWidget* window)
{
    QFont f = window->font();
    f.setPointSize(giSysFontSize());
    window->setFont(f);
    window->setProperty("FontCharset", giSysFontCharSet());
    QPalette pal = window->palette();
    pal.setColor(QPalette::WindowText, colorFromRef(gclSysFontColor()));
    pal.setColor(QPalette::Window, colorFromRef(gclModuleBackColor()));
    window->setPalette(pal);
    window->setAutoFillBackground(true);
}

void SetWidgetColor(QWidget* w, const QColor& color)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, color);
    pal.setColor(QPalette::Button, color);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

void SetTextColor(QWidget* w, const QColor& color)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::Active, QPalette::WindowText, color);
    pal.setColor(QPalette::Inactive, QPalette::WindowText, color);
    pal.setColor(QPalette::Disabled, QPalette::WindowText, color);
    w->setPalette(pal);
}

void HookXPEditsOf(QWidget* window)
{
    // The window itself takes no input method of its own; each edit chooses one when entered.
    window->setProperty("ImeName", QString());
    const auto edits = window->findChildren<TXPFamerEdit*>();
    for (TXPFamerEdit* edit : edits) {
        if (!edit->OnEnter)
            edit->OnEnter = [](QObject* sender) { XPEditEnter(sender); };
    }
}

void XPEditEnter(QObject* sender)
{
    auto* edit = qobject_cast<TXPFamerEdit*>(sender);
    if (!edit)
        return;
    if (edit->ImeMode() == imChinese || edit->ImeMode() == imOpen) {
        edit->SetImeMode(imOpen);
        edit->SetImeName(
            fromGbk(GetUserConfigParam("RunParameter", "SysIME", toGbk(QStringLiteral("-请选择-")).constData())));
    } else {
        edit->SetImeMode(imClose);
        edit->SetImeName(QStringLiteral("英语"));
    }
}

} // namespace sjql::ui
