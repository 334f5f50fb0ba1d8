// SPDX-License-Identifier: MIT
#include "ui/CustomDlg.h"

#include "hostapi/HostMessages.h"
#include "hostapi/ModuleLib.h"
#include "ui/HostNotices.h"
#include "ui/UiColor.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QScreen>
#include <QTimer>

namespace sjql::ui {

namespace {

Tfrm_CustomDlg::DialogScript& dialogScript()
{
    static Tfrm_CustomDlg::DialogScript script;
    return script;
}

QFont songti(int pixelSize)
{
    QFont f;
    f.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("WenQuanYi Micro Hei")});
    f.setPixelSize(pixelSize);
    return f;
}

} // namespace

Tfrm_CustomDlg::Tfrm_CustomDlg(QWidget* parent) : QDialog(parent)
{
    // Single border with the system menu only; the size is that of the window description.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    resize(491, 312);
    setFont(songti(12));
    SetWidgetColor(this, buttonFaceColor());

    pnlTop = new QFrame(this);
    pnlTop->setObjectName(QStringLiteral("pnlTop"));
    pnlTop->setFrameShape(QFrame::NoFrame);
    pnlTop->setGeometry(0, 0, 491, 37);
    SetWidgetColor(pnlTop, colorFromRef(0x7FCC88));

    lbBusinessName = new QLabel(QStringLiteral("模块名称"), pnlTop);
    lbBusinessName->setObjectName(QStringLiteral("lbBusinessName"));
    lbBusinessName->setGeometry(15, 10, 64, 16);
    QFont heiti;
    heiti.setFamilies({QStringLiteral("SimHei"), QStringLiteral("黑体"), QStringLiteral("WenQuanYi Micro Hei")});
    heiti.setPixelSize(16);
    lbBusinessName->setFont(heiti);
    SetTextColor(lbBusinessName, Qt::white); // the window colour of the classic desktop

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(14, 264, 467, 5);

    lblBrand = new QLabel(QString::fromLatin1(kBrandCaption), this);
    lblBrand->setObjectName(QStringLiteral("lblBrand"));
    lblBrand->setGeometry(18, 262, 30, 11);
    lblBrand->setFont(songti(11));
    lblBrand->setEnabled(false);
    lblBrand->hide();

    sBtnClose = new TModalSpeedButton(this);
    sBtnClose->setObjectName(QStringLiteral("sBtnClose"));
    sBtnClose->setText(QStringLiteral("关闭"));
    sBtnClose->setGeometry(410, 279, 67, 22);

    FormCreate();
}

Tfrm_CustomDlg::~Tfrm_CustomDlg() = default;

void Tfrm_CustomDlg::FormCreate()
{
    LoadHostContext(FContext, false);
    FContext.SavedFuncCode = FContext.FuncCode;
    ApplySkin();
    HookXPEditsOf(this);
}

void Tfrm_CustomDlg::ApplySkin()
{
    ApplyHostFontAndColor(this);
    SetSkinSchemeCtrls(this);
    // The host restyles every child; the parts the window description colours itself are set after
    // it so that they keep their colours through every re-skin.
    SetWidgetColor(pnlTop, colorFromRef(gclTopBarColor()));
    SetTextColor(lbBusinessName, Qt::white); // the window colour of the classic desktop
    if (lblBrand->isEnabled())
        SetTextColor(lblBrand, colorFromRef(0xB99D7F));
}

void Tfrm_CustomDlg::SetDialogScript(DialogScript script)
{
    dialogScript() = std::move(script);
}

const Tfrm_CustomDlg::DialogScript& Tfrm_CustomDlg::GetDialogScript()
{
    return dialogScript();
}

void Tfrm_CustomDlg::SetKeyButtons(TModalSpeedButton* enterButton, TModalSpeedButton* escapeButton)
{
    if (FEnterButton)
        FEnterButton->SetDefault(false);
    FEnterButton = enterButton;
    FEscapeButton = escapeButton;
    if (FEnterButton)
        FEnterButton->SetDefault(true);
}

void Tfrm_CustomDlg::setVisible(bool visible)
{
    // Centred when first shown, at the size the descendants have given it by then. The move also
    // keeps the toolkit from placing an owned dialog over its owner instead.
    if (visible && !FPlaced && !isVisible()) {
        FPlaced = true;
        CentreOnDesktop();
    }
    QDialog::setVisible(visible);
    if (visible && FEnterButton && FEnterButton->isVisible() && FEnterButton->isEnabled())
        FEnterButton->setFocus(Qt::OtherFocusReason);
}

void Tfrm_CustomDlg::CentreOnDesktop()
{
    QScreen* screen = nullptr;
    if (QWidget* owner = parentWidget())
        screen = owner->window()->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect r(QPoint(0, 0), size());
    r.moveCenter(screen->availableGeometry().center());
    move(r.topLeft());
}

QWidget* DialogOwner()
{
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible())
        return modal;
    if (QWidget* active = QApplication::activeWindow(); active && active->isVisible())
        return active;
    if (QWidget* frame = FindMainFrame())
        return frame;
    return QWidget::find(WId(ModuleAppWindow()));
}

int Tfrm_CustomDlg::exec()
{
    QPointer<Tfrm_CustomDlg> self(this);
    if (dialogScript()) {
        // The script runs from the modal loop, once the dialog is on screen.
        QTimer::singleShot(0, this, [this] {
            if (const DialogScript& script = dialogScript())
                script(*this);
        });
    }
    FInModalLoop = true;
    const int result = QDialog::exec();
    if (!self)
        return result;
    FInModalLoop = false;
    // Closing frees the window, but only after the caller has had the chance to read it: the
    // release is queued, and a caller that deletes the dialog itself cancels it.
    deleteLater();
    return result;
}

bool Tfrm_CustomDlg::event(QEvent* e)
{
    if (static_cast<int>(e->type()) == MSG_SKIN_CHANGED) {
        ApplySkin();
        HookXPEditsOf(this);
        return true;
    }
    if (e->type() == QEvent::Polish) {
        // Descendants add their controls after this constructor ran: skin and hook them as well
        // before the first show.
        const bool handled = QDialog::event(e);
        ApplySkin();
        HookXPEditsOf(this);
        return handled;
    }
    return QDialog::event(e);
}

void Tfrm_CustomDlg::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_F1) {
        SendMainFrameMessage(MSG_HELP_REQUEST);
        return;
    }
    // Enter and Esc press the dialog's own buttons, as a click would; without such a button they
    // mean nothing (the toolkit's own handling would end the modal loop behind the buttons' backs).
    if (e->modifiers() & ~Qt::KeypadModifier) {
        QDialog::keyPressEvent(e);
        return;
    }
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        if (FEnterButton && FEnterButton->isVisible() && FEnterButton->isEnabled())
            FEnterButton->click();
        return;
    }
    if (e->key() == Qt::Key_Escape) {
        EscapePressed();
        return;
    }
    QDialog::keyPressEvent(e);
}

void Tfrm_CustomDlg::EscapePressed()
{
    if (FEscapeButton && FEscapeButton->isVisible() && FEscapeButton->isEnabled())
        FEscapeButton->click();
}

void Tfrm_CustomDlg::closeEvent(QCloseEvent* e)
{
    QDialog::closeEvent(e);
    // Outside a modal loop a closed dialog releases itself from the event loop; exec() takes care
    // of the modal case.
    if (e->isAccepted() && !FInModalLoop)
        deleteLater();
}

void Tfrm_CustomDlg::resizeEvent(QResizeEvent* e)
{
    // The top panel is aligned to the top edge.
    pnlTop->setGeometry(0, 0, width(), pnlTop->height());
    QDialog::resizeEvent(e);
}

Tfrm_CustomDlgEx::Tfrm_CustomDlgEx(QWidget* parent) : Tfrm_CustomDlg(parent)
{
    pnlTop->setFixedHeight(0);
    pnlTop->hide();
    Bevel1->hide();

    // The brand line keeps only its dotted line: a product name in the corner of every dialog told
    // the user nothing and read like a stray caption.
    lblBrand->setGeometry(11, 261, 59, 13);
    QFont arial;
    arial.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    arial.setPixelSize(10);
    lblBrand->setFont(arial);
    lblBrand->setEnabled(true);
    SetTextColor(lblBrand, colorFromRef(0xB99D7F));
    lblBrand->hide();

    Shape1 = new TShape(this);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setGeometry(14, 267, 461, 1);
    Shape1->SetPenColor(colorFromRef(0xB99D7F));
    Shape1->SetPenStyle(Qt::DotLine);

    Tfrm_CustomDlgEx::ApplySkin();
}

void Tfrm_CustomDlgEx::ApplySkin()
{
    Tfrm_CustomDlg::ApplySkin();
    if (Shape1)
        Shape1->SetBrushColor(colorFromRef(gclModuleBackColor()));
}

} // namespace sjql::ui
