// SPDX-License-Identifier: MIT
// The clear button of the cleanup window: nothing ticked, the question declined, and a whole run
// through the progress window with the warnings and result dialogs answered by a script.
#include "archive/FileUtils.h"
#include "cleanup/BackupJob.h"
#include "cleanup/Drives.h"
#include "cleanup/f_sjqlMgr.h"
#include "db/ModuleHost.h"
#include "db/SqlLog.h"
#include "db/TestDatabase.h"
#include "entry/ModuleContext.h"
#include "host/services/HostServicesAdmin.h"
#include "ui/DispResult.h"
#include "ui/XPControls.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sjql;

class BackupWindow : public testing::Test
{
protected:
    void SetUp() override
    {
        host::resetState();
        host::state().homeDir = home.path() + QLatin1Char('/');
        SetHostExeDirOverride(home.path());
        SetSqlLogFolderOverride(home.path());
        host::clearShownBoxes();
        cleanup::SetDriveListProvider([] { return QList<cleanup::TDriveInfo>{}; });
        ASSERT_TRUE(db.ok()) << db.error().toStdString();
        host::DemoOptions o;
        o.agents = 1;
        o.employees = 3;
        o.firstYear = 2019;
        o.lastYear = 2021;
        o.period = QStringLiteral("202106");
        host::DemoResult r;
        QString error;
        ASSERT_TRUE(host::createDemoDatabase(db.connection(), db.kind(), o, &r, &error)) << error.toStdString();
        test::publishHost(db.connectionPtr(), db.kind());
        for (const auto& [name, value] : {std::pair{"QVR_KJYWRBM", r.agentCodes.at(0)}, {"QVR_SDFY", r.period}}) {
            host::VoEntry e;
            e.name = QLatin1String(name);
            e.text = value;
            host::state().valueObject.push_back(e);
        }
        agent = r.agentCodes.at(0);
        window = std::make_unique<TfrmsjqlMgr>();
        window->show();
        QCoreApplication::processEvents();
        window->edtBFLJ->setText(home.filePath(QStringLiteral("backup")));
    }
    void TearDown() override
    {
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ui::Tfrm_CustomDlg::SetDialogScript({});
        cleanup::SetDriveListProvider(nullptr);
        SetSqlLogFolderOverride(QString());
        SetHostExeDirOverride(QString());
        host::setBoxScript(nullptr);
        host::resetState();
    }

    void tick(const QString& year)
    {
        for (int i = 0; i < TfrmsjqlMgr::kYearBoxCount; ++i) {
            auto* box = window->YearBox(QStringLiteral("CBX%1").arg(i));
            if (box && box->isVisible() && box->text().startsWith(year))
                box->setChecked(true);
        }
    }

    qint64 rows(const QString& year)
    {
        return db.count(
            QStringLiteral("select count(*) from ZCGZXJMXB where FFYF like '%1%%' and KJYWRBM='%2'").arg(year, agent));
    }

    QTemporaryDir home;
    test::TestDatabase db{QStringLiteral("SQLITE")};
    QString agent;
    std::unique_ptr<TfrmsjqlMgr> window;
};

TEST_F(BackupWindow, NothingTickedOrQuestionDeclinedStartsNothing)
{
    host::setBoxScript([](const host::ShownBox&) { return false; });
    window->btnClearClick();
    ASSERT_EQ(host::shownBoxes().size(), 1u);
    EXPECT_EQ(host::shownBoxes()[0].kind, host::ShownBox::Info);
    EXPECT_EQ(host::shownBoxes()[0].text, host::catalogueText(MsgNoYearTicked, QByteArray()));

    tick(QStringLiteral("2019"));
    const qint64 before = rows(QStringLiteral("2019"));
    window->btnClearClick();
    ASSERT_EQ(host::shownBoxes().size(), 2u);
    EXPECT_EQ(host::shownBoxes()[1].kind, host::ShownBox::Confirm);
    EXPECT_EQ(rows(QStringLiteral("2019")), before);
    EXPECT_FALSE(window->Cleared());
    // The folders are made before the question, as the button always did.
    EXPECT_TRUE(DirExists(window->edtBFLJ->text()));
    EXPECT_TRUE(DirExists(window->WorkDir()));
}

TEST_F(BackupWindow, ARunThroughTheProgressWindowRefreshesTheYears)
{
    host::setBoxScript([](const host::ShownBox&) { return true; });
    QStringList warnings, results;
    ui::Tfrm_CustomDlg::SetDialogScript([&](ui::Tfrm_CustomDlg& d) {
        if (auto* ex = qobject_cast<ui::Tfrm_DispResultEx*>(&d)) {
            warnings << ex->ResultText();
            ex->sBtnConfirm->click();
        } else if (auto* plain = qobject_cast<ui::Tfrm_DispResult*>(&d)) {
            results << plain->ResultText();
            plain->sBtnConfirm->click();
        }
    });
    tick(QStringLiteral("2020"));
    tick(QStringLiteral("2019"));
    window->btnClearClick();

    // The demo's 2020 carries warnings; the locked 202008 stays, everything else is gone.
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].contains(QStringLiteral("202005")));
    ASSERT_EQ(results.size(), 1);
    EXPECT_TRUE(results[0].contains(QStringLiteral("202008")));
    EXPECT_TRUE(results[0].contains(QStringLiteral("2019年度的数据已备份并清理")));
    EXPECT_EQ(QDir(window->edtBFLJ->text()).entryList({QStringLiteral("*.zip")}).size(), 2);
    EXPECT_EQ(rows(QStringLiteral("2019")), 0);
    EXPECT_EQ(rows(QStringLiteral("2020")), rows(QStringLiteral("202008")));
    EXPECT_TRUE(window->Cleared());
    EXPECT_EQ(window->VisibleYearCaptions(), QStringList{QStringLiteral("2020年")});
    // The compaction looks for the installation's database file, which this test has not got: its
    // error is shown in a box and the run still counts as ended.
    ASSERT_EQ(host::shownBoxes().size(), 2u);
    EXPECT_EQ(host::shownBoxes()[1].kind, host::ShownBox::Info);
    EXPECT_TRUE(host::shownBoxes()[1].text.contains(QStringLiteral("Data.db")))
        << host::shownBoxes()[1].text.toStdString();
}
