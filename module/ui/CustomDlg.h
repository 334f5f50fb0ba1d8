// SPDX-License-Identifier: MIT
// Base classes of the module's modal dialogs.
//
// Tfrm_CustomDlg reads the host context and skin at creation, forwards F1 to the host as a help
// request, re-skins on the host's skin-changed message and frees itself when closed. A dialog run
// with exec() is released only after its modal loop (deleteLater), so the caller may still read it
// and delete it itself; a dialog closed without a modal loop is released from the event loop.
// Each dialog is centred on the desktop at the size it has when it is first shown (descendants
// size themselves after this constructor). Enter and Esc press the buttons a descendant names with
// SetKeyButtons and nothing else. GUI thread only.
#pragma once

#include "ui/HostContext.h"
#include "ui/XPControls.h"

#include <QDialog>
#include <QFrame>
#include <QLabel>

#include <functional>

namespace sjql::ui {

class Tfrm_CustomDlg : public QDialog
{
    Q_OBJECT
public:
    explicit Tfrm_CustomDlg(QWidget* parent = nullptr);
    ~Tfrm_CustomDlg() override;

    // Re-reads the host's font and colours; descendants add their own parts.
    virtual void ApplySkin();

    // Shows the dialog modally. When a dialog script is set, it receives the dialog once the modal
    // loop runs, so the dialog can be answered without a person.
    int exec() override;

    // Scripted mode (tests, the host's unattended runs): called for every base dialog shown with
    // exec(), from inside its modal loop. Set an empty function to return to interactive use.
    using DialogScript = std::function<void(Tfrm_CustomDlg& dialog)>;
    static void SetDialogScript(DialogScript script);
    static const DialogScript& GetDialogScript();

    const THostContext& HostContext() const { return FContext; }
    QString ImeName() const { return property("ImeName").toString(); }

    // The buttons Enter and Esc press (either may be null). A hidden or disabled button is not
    // pressed. The Enter button is drawn as the default one and takes the focus when the dialog
    // is shown.
    void SetKeyButtons(TModalSpeedButton* enterButton, TModalSpeedButton* escapeButton);
    TModalSpeedButton* EnterButton() const { return FEnterButton; }
    TModalSpeedButton* EscapeButton() const { return FEscapeButton; }

    void setVisible(bool visible) override;

    QFrame* pnlTop = nullptr;
    QLabel* lbBusinessName = nullptr;
    QFrame* Bevel1 = nullptr;
    QLabel* lblBrand = nullptr;
    TModalSpeedButton* sBtnClose = nullptr;

protected:
    // The creation step: host context, saved function code, skin, edit hooks.
    void FormCreate();
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    // Esc: presses the escape button when it can be pressed.
    virtual void EscapePressed();

private:
    // Puts the window in the middle of the desktop's free area of its screen.
    void CentreOnDesktop();

    THostContext FContext;
    bool FInModalLoop = false;
    bool FPlaced = false;
    TModalSpeedButton* FEnterButton = nullptr;
    TModalSpeedButton* FEscapeButton = nullptr;
};

// The window a module dialog should belong to: the modal dialog in front (a dialog opened from a
// running progress window stays above it), else the active window, else the host's main frame or
// application window. Null when there is none of these. Owned dialogs stay in front of their
// owner under every window manager.
QWidget* DialogOwner();

// The dialog with the brand line: no top bar and no bevel, a dotted line at the bottom instead (the
// brand caption stays hidden).
class Tfrm_CustomDlgEx : public Tfrm_CustomDlg
{
    Q_OBJECT
public:
    explicit Tfrm_CustomDlgEx(QWidget* parent = nullptr);

    void ApplySkin() override;

    TShape* Shape1 = nullptr;
};

// The brand caption of the dialogs' bottom line.
inline constexpr const char* kBrandCaption = "SJQL";

} // namespace sjql::ui
