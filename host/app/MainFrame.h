// SPDX-License-Identifier: MIT
// The reference host's main frame: class Tfrm_MainFrame (modules find it by that class name), a
// container area with one tab per opened module (a page that scrolls when the frame is smaller than
// the module's window), the skins by name, and the handling of the module notices (1282 shown,
// 1302 closed, 1329 page state, 1296 help), which the status bar shows for a few seconds before it
// says "就绪" again.
#pragma once

#include <QByteArray>
#include <QLibrary>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QLabel;
class QTabWidget;

namespace sjql::host {
class Installation;
}

class Tfrm_MainFrame : public QMainWindow
{
    Q_OBJECT
public:
    explicit Tfrm_MainFrame(sjql::host::Installation& installation, QWidget* parent = nullptr);
    ~Tfrm_MainFrame() override;

    // Loads libsjql.so from `libraryPath` and resolves ShowSJQL. False with *error set.
    bool loadModule(const QString& libraryPath, QString* error);
    // Opens the module in a new tab (ShowSJQL with the tab page as container and a parameter text
    // holding "ModalFormMsg"); with `floating` the module gets no container. Returns the module's
    // window, or null when the module opened none (not enabled: its message box was shown).
    QWidget* openModule(bool floating = false);
    // Closes every module tab: 1280 to each module window, then the pages go.
    void closeAllModules();

    QTabWidget* container() const { return m_tabs; }
    bool pageMaximised() const { return m_pageMaximised; }

    // What the status bar says now (the scripted mode prints it).
    QString statusText() const;

    // Every notice received, as "number text" lines (scripted mode prints them).
    const QStringList& notices() const { return m_notices; }
    std::function<void(const QString&)> onNotice;

protected:
    bool event(QEvent* e) override;

private:
    void handleNotice(int number, const QByteArray& text);
    void sweepClosedModules();
    void setPageMaximised(bool maximised);
    void updateHeader();
    // Makes the skin current: the host's colours, then 1303 to every module window; the status bar
    // names it.
    void applySkinChoice(quint32 moduleBack, quint32 moduleToolBar, quint32 topBar, const QString& name);

    sjql::host::Installation& m_installation;
    QLibrary m_library;
    void* m_showSJQL = nullptr;
    QWidget* m_header = nullptr;
    QLabel* m_headerInfo = nullptr;
    QTabWidget* m_tabs = nullptr;
    QWidget* m_home = nullptr;
    bool m_pageMaximised = false;
    QStringList m_notices;
    QByteArray m_paramText; // the start parameter text, alive while ShowSJQL reads it
};
