// SPDX-License-Identifier: MIT
#include "entry/MegMain.h"

#include "context/ModuleContext.h"
#include "context/ParamText.h"
#include "hostapi/Gbk.h"
#include "hostapi/HostMessages.h"
#include "hostapi/SjqlEntry.h"
#include "ui/HostNotices.h"
#include "window/f_sjqlMgr.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QPointer>
#include <QScreen>
#include <QWidget>

namespace sjql {

namespace {

// Keeps an embedded form the size of its parent's client area (the container may have no layout).
class FillParent : public QObject
{
public:
    FillParent(QWidget* parent, QWidget* form) : QObject(form), m_parent(parent), m_form(form)
    {
        parent->installEventFilter(this);
    }
    ~FillParent() override
    {
        if (m_parent)
            m_parent->removeEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (watched == m_parent && e->type() == QEvent::Resize && m_form)
            m_form->setGeometry(m_parent->contentsRect());
        return false;
    }

private:
    QPointer<QWidget> m_parent;
    QPointer<QWidget> m_form;
};

// What the module recorded when the library was loaded.
// On Windows the module swaps the framework's global application and screen objects for the host's
// and puts its own back on detach. Here host and module share the one QApplication and its screens,
// so there is nothing to swap; the record stays so the load and detach steps remain visible.
struct SavedFrameworkObjects
{
    QPointer<QCoreApplication> application;
    QPointer<QScreen> screen;

    SavedFrameworkObjects()
    {
        // Library load: record the global application and screen objects.
        application = QCoreApplication::instance();
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
            screen = QGuiApplication::primaryScreen();
    }
    ~SavedFrameworkObjects()
    {
        // Library detach from the process: put them back. The process's own objects were never
        // replaced, so putting back is forgetting the record.
        application = nullptr;
        screen = nullptr;
    }
};

SavedFrameworkObjects gSavedObjects;

QWidget* hostMainWindow()
{
    if (QWidget* frame = FindMainFrame())
        return frame;
    if (const SjqlWindowHandle app = ModuleAppWindow())
        return QWidget::find(WId(app));
    return nullptr;
}

} // namespace

void ShowModuleForm(QWidget* parent, QWidget* form, const QString& paramText)
{
    try {
        if (parent) {
            // Embedded: a borderless child filling the container's client area.
            form->setParent(parent, Qt::Widget);
            if (QLayout* layout = parent->layout())
                layout->addWidget(form);
            else {
                form->setGeometry(parent->contentsRect());
                new FillParent(parent, form);
            }
            form->show();
            const QString modalFormMsg = GetParamValue(paramText, QStringLiteral("ModalFormMsg"));
            if (!modalFormMsg.isEmpty()) {
                const QString notice =
                    modalFormMsg + QLatin1Char('|') + QString::number(quint64(form->winId())) + QStringLiteral("|0|1");
                NotifyMainFrame(MSG_MODULE_SHOWN, notice);
            }
        } else {
            // Floating: on top, centred on the host's main window, or on the screen without one, and
            // never made smaller than its controls reach (no container scrolls it).
            form->setParent(nullptr, Qt::Window | Qt::WindowStaysOnTopHint);
            form->setMinimumSize(form->minimumSizeHint());
            QRect area;
            if (QWidget* owner = hostMainWindow())
                area = owner->frameGeometry();
            else if (QScreen* screen = QGuiApplication::primaryScreen())
                area = screen->availableGeometry();
            if (area.isValid()) {
                QRect r = form->frameGeometry();
                r.moveCenter(area.center());
                form->move(r.topLeft());
            }
            form->show();
        }
    } catch (...) {
        // A failure while placing the window is swallowed; the host is not told.
    }
}

} // namespace sjql

extern "C" __attribute__((visibility("default"))) void ShowSJQL(SjqlWindowHandle appWindow, void* container,
                                                                const char* const* params)
{
    using namespace sjql;
    try {
        if (!IsModuleEnabled()) {
            const QByteArray text = toGbk(GetInitErrorText());
            InfoMsgBox(text.constData(), 0);
            return;
        }
        // The module's dialogs belong to the host's application window: remember it as the sender
        // of the notices (the application object itself is shared with the host already).
        SetModuleAppWindow(appWindow);
        auto* form = new TfrmsjqlMgr(nullptr);
        const QString paramText = (params && *params) ? fromGbk(*params) : QString();
        ShowModuleForm(static_cast<QWidget*>(container), form, paramText);
    } catch (...) {
        // No failure crosses the exported entry.
    }
}
