// SPDX-License-Identifier: MIT
// The clear button of the cleanup window: nothing ticked, the question declined, a whole run
// through the progress window with the warnings and result dialogs answered by a script, the run's
// ending left on the window, and a year whose cleared months were never packed.
#include "archive/CompressUnit.h"
#include "archive/FileUtils.h"
#include "context/ModuleContext.h"
#include "db/SqlLog.h"
#include "helpers/DemoDatabase.h"
#include "helpers/WindowHost.h"
#include "host/services/HostServicesAdmin.h"
#include "hostapi/Gbk.h"
#include "hostapi/IITIterface.h"
#include "jobs/BackupDataFiles.h"
#include "jobs/BackupJob.h"
#include "jobs/Drives.h"
#include "jobs/RunOutcome.h"
#include "jobs/WorkFolders.h"
#include "ui/DispResult.h"
#include "ui/XPControls.h"
#include "window/f_sjqlMgr.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

using namespace sjql;

class BackupWindow : public test::WindowHost, public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(setUpHost());
        QStringList agents;
        ASSERT_TRUE(test::fillDemo(db, {1, 3, 2019, 2021, QStringLiteral("202106")}, &agents));
        agent = agents.at(0);
        test::publishHost(db.connectionPtr(), db.kind(), agent);
        test::setVoText(QStringLiteral("QVR_SDFY"), QStringLiteral("202106"));
        openWindow();
    }
    void TearDown() override { tearDownHost(); }

    void tick(const QString& year)
    {
        for (int i = 0; i < TfrmsjqlMgr::kYearBoxCount; ++i) {
            auto* box = window->YearBox(QStringLiteral("CBX%1").arg(i));
            if (box && box->isVisible() && box->text().startsWith(year))
                box->setChecked(true);
        }
    }

    // A window of its own, the earlier one gone first; the backup folder typed in.
    void openWindow()
    {
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        open()->edtBFLJ->setText(home.filePath(QStringLiteral("backup")));
    }

    // Answers every box with yes and every result dialog with its confirm button.
    void answerEverything(QStringList* results)
    {
        host::setBoxScript([](const host::ShownBox&) { return true; });
        ui::Tfrm_CustomDlg::SetDialogScript([results](ui::Tfrm_CustomDlg& d) {
            if (auto* ex = qobject_cast<ui::Tfrm_DispResultEx*>(&d)) {
                ex->sBtnConfirm->click();
            } else if (auto* plain = qobject_cast<ui::Tfrm_DispResult*>(&d)) {
                *results << plain->ResultText();
                plain->sBtnConfirm->click();
            }
        });
    }

    // The ending the window keeps after the clear button; -1 while it has none.
    int ending() const
    {
        const QVariant v = window->property(kRunEndingProperty);
        return v.isValid() ? v.toInt() : -1;
    }
    QString summary() const { return window->property(kRunSummaryProperty).toString(); }

    qint64 rows(const QString& year)
    {
        return db.count(
            QStringLiteral("select count(*) from ZCGZXJMXB where FFYF like '%1%%' and KJYWRBM='%2'").arg(year, agent));
    }

    test::TestDatabase db{QStringLiteral("SQLITE")};
    QString agent;
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
    EXPECT_EQ(ending(), int(RunEnding::Clean));
    EXPECT_TRUE(summary().isEmpty());
    // The folders are made before the question, as the button always did; the work folder, left
    // empty, goes again.
    EXPECT_TRUE(DirExists(window->edtBFLJ->text()));
    EXPECT_FALSE(DirExists(window->WorkDir()));
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
    // The refused month and the compaction make it a run with failures, and the window says so.
    EXPECT_EQ(ending(), int(RunEnding::Failures));
    EXPECT_TRUE(summary().contains(QStringLiteral("2个年度已备份"))) << summary().toStdString();
    EXPECT_TRUE(summary().contains(QStringLiteral("数据库压缩失败"))) << summary().toStdString();
}

// Every month of 2019 was saved and cleared, but never packed (as when packing failed in both
// folders). The window offers the year marked unfinished and says so once; clearing it again packs
// the files into the year's archive.
TEST_F(BackupWindow, AnUnfinishedYearIsFinishedByClearingItAgain)
{
    const QString workDir = window->WorkDir();
    const QString yearFolder = AgentWorkDir(workDir, agent) + QStringLiteral("/2019");
    int months = 0; // the demo's only agent starts in the middle of its first year
    for (int m = 1; m <= 12; ++m) {
        const QString period = QStringLiteral("2019%1").arg(m, 2, 10, QLatin1Char('0'));
        if (rows(period) == 0)
            continue;
        ++months;
        QSqlQuery query;
        ASSERT_EQ(WriteMonthDataFiles(AgentWorkDir(workDir, agent), period, agent, query).outcome,
                  MonthDataFilesResult::Written);
        query.finish();
        char buffer[SJQL_IIT_RESULT_BUFFER_SIZE] = {};
        char* result = buffer;
        ASSERT_EQ(ClearDKDJData(toGbk(period).constData(), toGbk(agent).constData(), &result), 0);
    }
    ASSERT_EQ(rows(QStringLiteral("2019")), 0);
    ASSERT_GT(months, 0);

    QStringList results;
    answerEverything(&results);
    host::clearShownBoxes();
    openWindow();
    EXPECT_EQ(window->VisibleYearCaptions(), (QStringList{QStringLiteral("2020年"), QStringLiteral("2019年(未完成)")}));
    ASSERT_EQ(host::shownBoxes().size(), 1u);
    const QString told = host::shownBoxes()[0].text;
    EXPECT_EQ(host::shownBoxes()[0].kind, host::ShownBox::Info);
    EXPECT_TRUE(told.contains(QStringLiteral("2019年度"))) << told.toStdString();
    EXPECT_TRUE(told.contains(QStringLiteral("201907"))) << told.toStdString();
    EXPECT_TRUE(told.contains(QStringLiteral("201912"))) << told.toStdString();
    EXPECT_TRUE(told.contains(QDir::toNativeSeparators(yearFolder))) << told.toStdString();
    EXPECT_TRUE(told.contains(QStringLiteral("再次清理"))) << told.toStdString();
    // Told once: showing the window again says nothing more.
    window->hide();
    window->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(host::shownBoxes().size(), 1u);
    window->edtBFLJ->setText(home.filePath(QStringLiteral("backup")));

    tick(QStringLiteral("2019"));
    EXPECT_EQ(window->CheckedYears(), QStringList{QStringLiteral("2019")});
    window->btnClearClick();
    ASSERT_EQ(results.size(), 1);
    EXPECT_TRUE(results[0].contains(QStringLiteral("2019年度的数据已备份并清理"))) << results[0].toStdString();
    const QStringList zips = QDir(window->edtBFLJ->text()).entryList({QStringLiteral("*.zip")});
    ASSERT_EQ(zips.size(), 1) << results[0].toStdString();
    QTemporaryDir out;
    ASSERT_TRUE(UncompressFile(QDir(window->edtBFLJ->text()).filePath(zips[0]), out.path(), false, ArchivePassword));
    EXPECT_EQ(QDir(out.path()).entryList(QDir::Files).size(), months * 3 + 1);
    EXPECT_FALSE(DirExists(yearFolder));
    EXPECT_EQ(window->VisibleYearCaptions(), QStringList{QStringLiteral("2020年")});
}

// A folder text without its leading part (as a stale setting may hold) is the folder in the home
// folder: the archives land there and nothing appears in the process's current folder.
TEST_F(BackupWindow, ARelativeFolderTextMeansTheHomeFolder)
{
    QTemporaryDir elsewhere;
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(elsewhere.path()));
    QStringList results;
    answerEverything(&results);
    window->edtBFLJ->setText(QStringLiteral("Quarvo/备份"));
    tick(QStringLiteral("2019"));
    window->btnClearClick();
    QDir::setCurrent(before);

    const QString folder = home.path() + QStringLiteral("/Quarvo/备份");
    const QStringList zips = QDir(folder).entryList({QStringLiteral("*.zip")});
    ASSERT_EQ(zips.size(), 1) << results.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(results.size(), 1);
    EXPECT_TRUE(results[0].contains(folder + QLatin1Char('/') + zips[0])) << results[0].toStdString();
    EXPECT_TRUE(QDir(elsewhere.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    EXPECT_EQ(rows(QStringLiteral("2019")), 0);
}

// The restore button's open dialog, as the user sees it: at the backup folder (or, before the first
// backup made it, at its nearest existing parent), with a filter in words, and the archives' whole
// names in view.
TEST_F(BackupWindow, TheOpenDialogStartsAtTheBackupFolderWithWholeNames)
{
    const QString folder = home.filePath(QStringLiteral("backup"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString name = QStringLiteral("个税代扣代缴备份文件2019年_91110100MA08372364_20261208131214561.zip");
    QFile archive(folder + QLatin1Char('/') + name);
    ASSERT_TRUE(archive.open(QIODevice::WriteOnly));
    archive.close();
    window->edtBFLJ->setText(folder);

    struct Seen
    {
        QString directory;
        QStringList filters;
        int nameWidth = 0;
        int columnWidth = 0;
        bool inView = false;
    };
    // Looks at the dialog once it is on screen and its folder is listed, then cancels it.
    auto look = [](Seen* seen, const QString& file, const QString& shot) {
        auto* timer = new QTimer;
        timer->setInterval(20);
        auto deadline = std::make_shared<int>(250);
        QObject::connect(timer, &QTimer::timeout, [=] {
            auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dlg)
                return;
            auto* tree = dlg->findChild<QTreeView*>(QStringLiteral("treeView"));
            auto* model = dlg->findChild<QFileSystemModel*>();
            const QModelIndex index = model && !file.isEmpty() ? model->index(file) : QModelIndex();
            if (!file.isEmpty() && --*deadline > 0 &&
                (!tree || !tree->isVisible() || !index.isValid() || tree->visualRect(index).isEmpty()))
                return;
            timer->stop();
            timer->deleteLater();
            seen->directory = dlg->directory().absolutePath();
            seen->filters = dlg->nameFilters();
            if (tree && index.isValid()) {
                QCoreApplication::processEvents();
                seen->nameWidth = tree->fontMetrics().horizontalAdvance(QFileInfo(file).fileName());
                seen->columnWidth = tree->columnWidth(0);
                const QRect cell = tree->visualRect(index);
                seen->inView = cell.left() >= 0 && cell.right() <= tree->viewport()->width();
                if (!shot.isEmpty()) {
                    QDir().mkpath(QStringLiteral(SJQL_BINARY_DIR "/ui-shots"));
                    dlg->grab().save(QStringLiteral(SJQL_BINARY_DIR "/ui-shots/") + shot + QStringLiteral(".png"));
                }
            }
            dlg->reject();
        });
        timer->start();
    };

    Seen seen;
    look(&seen, folder + QLatin1Char('/') + name, QStringLiteral("open-dialog"));
    window->btnRegainClick();
    EXPECT_EQ(seen.directory, folder);
    EXPECT_EQ(seen.filters, QStringList{QStringLiteral("备份文件 (*.zip *.ZIP)")});
    EXPECT_GT(seen.nameWidth, 0);
    EXPECT_GE(seen.columnWidth, seen.nameWidth) << "the name column cuts the archive's name";
    EXPECT_TRUE(seen.inView);
    // Cancelled: nothing ran.
    EXPECT_FALSE(window->Cleared());

    Seen before;
    window->edtBFLJ->setText(home.path() + QStringLiteral("/Quarvo/备份"));
    look(&before, QString(), QString());
    window->btnRegainClick();
    EXPECT_EQ(before.directory, home.path());
}
