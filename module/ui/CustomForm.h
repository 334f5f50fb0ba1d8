// SPDX-License-Identifier: MIT
// Base classes of the module windows that live inside the host's main frame.
//
// Tfrm_Custom reads the host context and skin at creation, sees F1 before its controls do (key
// preview) and forwards it as a help request, closes on the host's close message, re-skins on the
// skin-changed message, tells the main frame when it is activated, and sends the closed notice
// with the saved function code when it is destroyed. Closing frees the window
// (WA_DeleteOnClose). Tfrm_CustomEx adds the tool-page buttons (maximise, restore, close) that
// keep the host informed of the page state. GUI thread only.
#pragma once

#include "ui/HostContext.h"
#include "ui/XPControls.h"

#include <QToolBar>
#include <QToolButton>
#include <QWidget>

namespace sjql::ui {

class Tfrm_Custom : public QWidget
{
    Q_OBJECT
public:
    explicit Tfrm_Custom(QWidget* parent = nullptr);
    ~Tfrm_Custom() override;

    virtual void ApplySkin();

    const THostContext& HostContext() const { return FContext; }
    QString ImeName() const { return property("ImeName").toString(); }

    TShape* Shape1 = nullptr;
    QToolBar* ModuleToolbar = nullptr;

protected:
    void FormCreate();
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    // Places the tool bar and the line; Tfrm_CustomEx swaps their order.
    virtual void LayoutBars();

private:
    void FormDestroy();

    THostContext FContext;
};

class Tfrm_CustomEx : public Tfrm_Custom
{
    Q_OBJECT
public:
    explicit Tfrm_CustomEx(QWidget* parent = nullptr);

    void ApplySkin() override;

    // 1 = normal, 2 = maximised. Only the tool-page buttons move it; the window never resizes
    // itself for it, it only informs the host.
    quint8 ToolPageState() const { return FToolPageState; }

    QWidget* pnlToolResize = nullptr;
    QToolButton* spToolPageForm = nullptr;
    QToolButton* spToolPageMax = nullptr;
    QToolButton* spToolPageClose = nullptr;

    void spToolPageMaxClick();
    void spToolPageFormClick();
    void spToolPageCloseClick();

protected:
    void LayoutBars() override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void SetToolPageState(quint8 state);
    void FormResize();

    quint8 FToolPageState = 1;
};

} // namespace sjql::ui
