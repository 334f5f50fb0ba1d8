// SPDX-License-Identifier: MIT
#include "ui/CustomForm.h"

#include "hostapi/HostMessages.h"
#include "hostapi/ModuleLib.h"
#include "ui/HostNotices.h"
#include "ui/UiColor.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>

namespace sjql::ui {

namespace {

// Glyphs of the tool-page buttons, drawn in the classic caption-button manner.
QIcon toolPageGlyph(char kind)
{
    QPixmap pm(13, 13);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(QPen(QColor(0x33, 0x33, 0x33), 1));
    switch (kind) {
    case 'x': // close: a cross
        p.drawLine(2, 2, 10, 10);
        p.drawLine(3, 2, 10, 9);
        p.drawLine(10, 2, 2, 10);
        p.drawLine(9, 2, 2, 9);
        break;
    case 'm': // maximise: one window with a thick title bar
        p.drawRect(1, 1, 10, 10);
        p.drawLine(1, 2, 11, 2);
        break;
    default: // restore: two overlapping windows
        p.drawRect(4, 1, 7, 6);
        p.drawLine(4, 2, 11, 2);
        p.fillRect(1, 4, 8, 7, Qt::transparent);
        p.drawRect(1, 4, 7, 6);
        p.drawLine(1, 5, 8, 5);
        break;
    }
    return QIcon(pm);
}

QToolButton* makeToolPageButton(QWidget* parent, const char* name, const QString& hint, char glyph, int left)
{
    auto* b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoRaise(true);
    b->setGeometry(left, 2, 19, 19);
    b->setToolTip(hint);
    b->setIcon(toolPageGlyph(glyph));
    b->setIconSize(QSize(13, 13));
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

} // namespace

Tfrm_Custom::Tfrm_Custom(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    resize(542, 373);
    QFont f;
    f.setFamilies(
        {QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"), QStringLiteral("WenQuanYi Micro Hei")});
    f.setPixelSize(11);
    setFont(f);
    SetWidgetColor(this, buttonFaceColor());

    Shape1 = new TShape(this);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->SetPenColor(colorFromRef(0x838383));
    Shape1->SetBrushClear(true);
    Shape1->hide();

    ModuleToolbar = new QToolBar(this);
    ModuleToolbar->setObjectName(QStringLiteral("ModuleToolbar"));
    ModuleToolbar->setMovable(false);
    ModuleToolbar->setFloatable(false);
    ModuleToolbar->setIconSize(QSize(24, 24));
    ModuleToolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    ModuleToolbar->setStyleSheet(QStringLiteral("QToolBar { border: none; } QToolButton { min-width: 85px; "
                                                "min-height: 30px; max-height: 30px; }"));
    SetWidgetColor(ModuleToolbar, colorFromRef(0xD8E8DA));

    // Key preview: F1 reaches the window before any of its controls.
    qApp->installEventFilter(this);

    FormCreate();
    LayoutBars();
}

Tfrm_Custom::~Tfrm_Custom()
{
    qApp->removeEventFilter(this);
    FormDestroy();
}

void Tfrm_Custom::FormCreate()
{
    LoadHostContext(FContext, true);
    FContext.SavedFuncCode = FContext.FuncCode;
    ApplySkin();
    HookXPEditsOf(this);
}

void Tfrm_Custom::FormDestroy()
{
    NotifyMainFrame(MSG_MODULE_CLOSED, FContext.SavedFuncCode);
}

void Tfrm_Custom::ApplySkin()
{
    ApplyHostFontAndColor(this);
    SetSkinSchemeCtrls(this);
    // After the host's restyling of the children, so the bar keeps the host's bar colour.
    SetWidgetColor(ModuleToolbar, colorFromRef(gclModuleToolBarColor()));
}

bool Tfrm_Custom::event(QEvent* e)
{
    switch (static_cast<int>(e->type())) {
    case MSG_CLOSE_MODULE:
        close();
        return true;
    case MSG_SKIN_CHANGED:
        ApplySkin();
        HookXPEditsOf(this);
        return true;
    case QEvent::Polish: {
        // Descendants add their controls after this constructor ran: skin and hook them as well.
        const bool handled = QWidget::event(e);
        ApplySkin();
        HookXPEditsOf(this);
        return handled;
    }
    case QEvent::ActivationChange: {
        const bool handled = QWidget::event(e);
        // The main frame keeps its caption active while one of its module windows is.
        if (isActiveWindow()) {
            SendMainFrameNcActivate();
        }
        return handled;
    }
    default:
        return QWidget::event(e);
    }
}

bool Tfrm_Custom::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_F1 && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        if (w == this || isAncestorOf(w)) {
            SendMainFrameMessage(MSG_HELP_REQUEST);
            return true;
        }
    }
    return QWidget::eventFilter(watched, e);
}

void Tfrm_Custom::resizeEvent(QResizeEvent* e)
{
    LayoutBars();
    QWidget::resizeEvent(e);
}

void Tfrm_Custom::LayoutBars()
{
    // The hidden line on top, the tool bar below it, both across the whole width.
    Shape1->setGeometry(0, 0, width(), 1);
    const int h = qMax(26, ModuleToolbar->sizeHint().height());
    ModuleToolbar->setGeometry(0, Shape1->isVisible() ? 1 : 0, width(), h);
}

Tfrm_CustomEx::Tfrm_CustomEx(QWidget* parent) : Tfrm_Custom(parent)
{
    pnlToolResize = new QWidget(this);
    pnlToolResize->setObjectName(QStringLiteral("pnlToolResize"));
    pnlToolResize->setGeometry(486, 2, 47, 22);
    SetWidgetColor(pnlToolResize, colorFromRef(0xE4E0DF));

    spToolPageForm = makeToolPageButton(pnlToolResize, "spToolPageForm", QStringLiteral("恢复窗口"), 'r', 4);
    spToolPageMax = makeToolPageButton(pnlToolResize, "spToolPageMax", QStringLiteral("最大化窗口"), 'm', 4);
    spToolPageClose = makeToolPageButton(pnlToolResize, "spToolPageClose", QStringLiteral("关闭窗口"), 'x', 24);
    spToolPageForm->hide();
    connect(spToolPageForm, &QToolButton::clicked, this, &Tfrm_CustomEx::spToolPageFormClick);
    connect(spToolPageMax, &QToolButton::clicked, this, &Tfrm_CustomEx::spToolPageMaxClick);
    connect(spToolPageClose, &QToolButton::clicked, this, &Tfrm_CustomEx::spToolPageCloseClick);

    Tfrm_CustomEx::ApplySkin();
    // The window description already shows the buttons of the normal state.
    FToolPageState = 1;
    LayoutBars();
    FormResize();
}

void Tfrm_CustomEx::ApplySkin()
{
    Tfrm_Custom::ApplySkin();
    if (pnlToolResize)
        SetWidgetColor(pnlToolResize, ModuleToolbar->palette().color(QPalette::Window));
}

void Tfrm_CustomEx::LayoutBars()
{
    const int h = qMax(26, ModuleToolbar->sizeHint().height());
    ModuleToolbar->setGeometry(0, 0, width(), h);
    Shape1->setGeometry(0, 26, width(), 1);
}

void Tfrm_CustomEx::resizeEvent(QResizeEvent* e)
{
    Tfrm_Custom::resizeEvent(e);
    FormResize();
}

void Tfrm_CustomEx::FormResize()
{
    // Keeps the three buttons at the right end of the tool bar, above it.
    if (!pnlToolResize)
        return;
    pnlToolResize->raise();
    pnlToolResize->move(ModuleToolbar->width() - pnlToolResize->width(), ModuleToolbar->y() + 2);
}

void Tfrm_CustomEx::SetToolPageState(quint8 state)
{
    FToolPageState = state;
    if (state == 1) {
        spToolPageMax->show();
        spToolPageForm->hide();
    } else if (state == 2) {
        spToolPageMax->hide();
        spToolPageForm->show();
    }
}

void Tfrm_CustomEx::spToolPageMaxClick()
{
    NotifyMainFrame(MSG_PAGE_STATE, QStringLiteral("max"));
    SetToolPageState(2);
}

void Tfrm_CustomEx::spToolPageFormClick()
{
    NotifyMainFrame(MSG_PAGE_STATE, QStringLiteral("reset"));
    SetToolPageState(1);
}

void Tfrm_CustomEx::spToolPageCloseClick()
{
    if (FToolPageState == 2)
        NotifyMainFrame(MSG_PAGE_STATE, QStringLiteral("reset"));
    close();
}

} // namespace sjql::ui
