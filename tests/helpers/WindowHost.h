// SPDX-License-Identifier: MIT
// The host around the cleanup window in window tests: an installation folder of the test's own
// (also the executable's folder and the SQL log's), no removable drives, the user's home in the
// same folder, and host message boxes recorded and answered yes unless a test scripts them.
#pragma once

#include "context/ModuleContext.h"
#include "db/SqlLog.h"
#include "host/services/HostServicesAdmin.h"
#include "jobs/Drives.h"
#include "ui/CustomDlg.h"
#include "window/f_sjqlMgr.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace sjql::test {

class WindowHost
{
protected:
    // For SetUp, through ASSERT_NO_FATAL_FAILURE or as its first step.
    void setUpHost()
    {
        host::resetState();
        ASSERT_TRUE(home.isValid());
        host::state().homeDir = home.path() + QLatin1Char('/');
        SetHostExeDirOverride(home.path());
        SetSqlLogFolderOverride(home.path());
        host::clearShownBoxes();
        host::setBoxScript([](const host::ShownBox&) { return true; });
        cleanup::SetDriveListProvider([] { return QList<cleanup::TDriveInfo>{}; });
        cleanup::SetHomeFolderOverride(home.path());
    }

    // Closes the window and puts every seam back.
    void tearDownHost()
    {
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ui::Tfrm_CustomDlg::SetDialogScript({});
        cleanup::SetDriveListProvider(nullptr);
        cleanup::SetHomeFolderOverride(QString());
        SetSqlLogFolderOverride(QString());
        SetHostExeDirOverride(QString());
        host::setBoxScript(nullptr);
        host::resetState();
    }

    // A new window, shown as the host shows it, once it has listed its years. A window opened
    // before is closed only after the new one was made, as when the host opens a second one.
    TfrmsjqlMgr* open()
    {
        window = std::make_unique<TfrmsjqlMgr>();
        window->show();
        QCoreApplication::processEvents();
        return window.get();
    }

    QTemporaryDir home;
    std::unique_ptr<TfrmsjqlMgr> window;
};

} // namespace sjql::test
