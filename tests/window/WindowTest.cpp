// SPDX-License-Identifier: MIT
// The cleanup manager window against a demo database: which years it offers, what it shows when
// there is nothing or the query fails, where it proposes to put the backups, and its pictures.
#include "context/ModuleContext.h"
#include "db/SqlLog.h"
#include "helpers/DemoDatabase.h"
#include "helpers/WindowHost.h"
#include "host/services/HostServicesAdmin.h"
#include "hostapi/Gbk.h"
#include "hostapi/HostMessages.h"
#include "hostapi/ModuleLib.h"
#include "jobs/Drives.h"
#include "jobs/WorkFolders.h"
#include "ui/ImageButton.h"
#include "ui/XPControls.h"
#include "window/Artwork.h"
#include "window/f_sjqlMgr.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace sjql;
using sjql::cleanup::TDriveInfo;

namespace {

// Publishes a connection, its kind, the host code and the current period as the host does.
void publish(HostConnection* connection, const QString& kind, const QString& period, const QString& appCode)
{
    host::state().valueObject = {test::voObject(QStringLiteral("QVR_DKDJADOConnection"), connection)};
    test::setVoText(QStringLiteral("QVR_DKDJDBType"), kind);
    test::setVoText(QStringLiteral("QVR_DKDJAPPCODE"), appCode);
    test::setVoText(QStringLiteral("QVR_SDFY"), period);
}

// Saves a picture of the window into the build folder for a person to look at.
void saveShot(QWidget* w, const QString& name)
{
    const QString dir = QStringLiteral(SJQL_BINARY_DIR "/ui-shots");
    QDir().mkpath(dir);
    w->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// The first `count` year boxes: visible, each wide enough for its caption, the same gap between
// every two, the text line of each level with the label "清理并备份范围：".
void expectEvenlySpaced(TfrmsjqlMgr* w, int count)
{
    int gap = -1;
    for (int i = 0; i < count; ++i) {
        const ui::TXPFarmerCheckBox* box = w->YearBox(QStringLiteral("CBX%1").arg(i));
        ASSERT_TRUE(box && box->isVisible()) << i;
        const QString caption = box->text();
        EXPECT_GE(box->width(), box->sizeHint().width()) << caption.toStdString();
        EXPECT_GE(box->width(), box->fontMetrics().horizontalAdvance(box->text())) << caption.toStdString();
        EXPECT_LE(qAbs(box->geometry().center().y() - w->lbl2->geometry().center().y()), 1) << caption.toStdString();
        if (i == 0)
            continue;
        const ui::TXPFarmerCheckBox* before = w->YearBox(QStringLiteral("CBX%1").arg(i - 1));
        const int g = box->x() - (before->x() + before->width());
        EXPECT_GT(g, 0) << caption.toStdString();
        if (gap < 0)
            gap = g;
        EXPECT_EQ(g, gap) << caption.toStdString();
    }
}

// --- Year list, on both database kinds ---

class YearListTest : public test::WindowHost, public ::testing::TestWithParam<const char*>
{
protected:
    void SetUp() override
    {
        setUpHost();
        db = std::make_unique<test::TestDatabase>(QString::fromLatin1(GetParam()));
        ASSERT_TRUE(db->ok()) << db->error().toStdString();
    }
    void TearDown() override
    {
        tearDownHost();
        db.reset();
    }

    void demo(int first, int last, const QString& period)
    {
        QStringList agents;
        ASSERT_TRUE(test::fillDemo(*db, {1, 3, first, last, period}, &agents));
        publish(db->connectionPtr(), db->kind(), period, QStringLiteral("03"));
        agent = agents.value(0);
        test::setVoText(QStringLiteral("QVR_KJYWRBM"), agent);
    }

    // A month data file left in the agent's work folder (its content does not matter to the list).
    void leaveFile(const QString& agentCode, const QString& name)
    {
        const QString workDir = host::subAppPath(host::state().curSubAppCode) + QStringLiteral("TEMP/TMPBFMU");
        const QString folder =
            AgentWorkDir(workDir, agentCode) + QLatin1Char('/') + name.mid(name.indexOf(u'_') + 1, 4);
        ASSERT_TRUE(QDir().mkpath(folder));
        QFile f(folder + QLatin1Char('/') + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }

    std::unique_ptr<test::TestDatabase> db;
    QString agent;
};

TEST_P(YearListTest, OffersHistoryYearsNewestFirstWithoutTheCurrentOne)
{
    demo(2019, 2024, QStringLiteral("202406"));
    TfrmsjqlMgr* w = open();
    EXPECT_EQ(w->VisibleYearCaptions(),
              QStringList({QStringLiteral("2023年"), QStringLiteral("2022年"), QStringLiteral("2021年"),
                           QStringLiteral("2020年"), QStringLiteral("2019年")}));
    EXPECT_TRUE(w->btnClear->isEnabled());
    EXPECT_TRUE(w->lblwsj->isHidden());
    EXPECT_TRUE(host::shownBoxes().empty());
    w->resize(780, 560);
    saveShot(w, QStringLiteral("cleanup-window-03-") + QString::fromLatin1(GetParam()));

    // Left to right in year order, each caption whole and the same gap between every two boxes, on
    // the line of the label before them.
    expectEvenlySpaced(w, 5);

    // The ticked years go to the backup job in box order, four characters each.
    QTest::mouseClick(w->YearBox(QStringLiteral("CBX3")), Qt::LeftButton);
    QTest::mouseClick(w->YearBox(QStringLiteral("CBX1")), Qt::LeftButton);
    EXPECT_EQ(w->CheckedYears(), QStringList({QStringLiteral("2022"), QStringLiteral("2020")}));

    // A refresh (as after a run) clears the ticks; a second show makes no second set of boxes.
    w->RefreshYearList();
    EXPECT_TRUE(w->CheckedYears().isEmpty());
    w->hide();
    w->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(w->findChildren<ui::TXPFarmerCheckBox*>().size(), TfrmsjqlMgr::kYearBoxCount);
    EXPECT_EQ(w->VisibleYearCaptions().size(), 5);
}

TEST_P(YearListTest, TwelveHistoryYearsFillOnlyTheTenBoxes)
{
    demo(2012, 2024, QStringLiteral("202403"));
    TfrmsjqlMgr* w = open();
    const QStringList captions = w->VisibleYearCaptions();
    ASSERT_EQ(captions.size(), 10);
    EXPECT_EQ(captions.first(), QStringLiteral("2023年"));
    EXPECT_EQ(captions.last(), QStringLiteral("2014年"));
}

TEST_P(YearListTest, NoHistoryDisablesTheClearButton)
{
    demo(2024, 2024, QStringLiteral("202406"));
    TfrmsjqlMgr* w = open();
    EXPECT_TRUE(w->VisibleYearCaptions().isEmpty());
    EXPECT_FALSE(w->btnClear->isEnabled());
    EXPECT_FALSE(w->lblwsj->isHidden());
    EXPECT_EQ(w->lblwsj->text(), QStringLiteral("无历史数据"));
    // Restore stays possible.
    EXPECT_TRUE(w->btnRegain->isEnabled());
}

TEST_P(YearListTest, FailingQueryShowsTheCodedTextAndLogsTheStatement)
{
    demo(2019, 2024, QStringLiteral("202406"));
    TfrmsjqlMgr* w = open();
    ASSERT_EQ(w->VisibleYearCaptions().size(), 5);

    db->exec(QStringLiteral("DROP TABLE KJSDSBGB"));
    w->RefreshYearList();
    ASSERT_EQ(host::shownBoxes().size(), 1u);
    EXPECT_EQ(host::shownBoxes()[0].kind, host::ShownBox::Info);
    EXPECT_TRUE(host::shownBoxes()[0].text.contains(QStringLiteral("80323110")));
    // The boxes keep what they showed.
    EXPECT_EQ(w->VisibleYearCaptions().size(), 5);

    const QByteArray logBytes = test::readLog(QDate::currentDate());
    const QString log = fromGbk(QByteArrayView(logBytes));
    const QString expr = db->sqlite() ? QStringLiteral("substr(FFYF,1,4)") : QStringLiteral("left(FFYF,4)");
    EXPECT_TRUE(log.contains(QStringLiteral("from KJSDSBGB where ") + expr + QStringLiteral("<>'2024'  group by ") +
                             expr + QStringLiteral(" order by ") + expr + QStringLiteral(" desc")))
        << log.toStdString();
}

// Years whose data files are still in the agent's work folder are offered marked unfinished, in
// year order among the others, even when the database holds nothing of them; other agents' files
// and other files change nothing.
TEST_P(YearListTest, UnfinishedYearsAreOfferedMarked)
{
    demo(2019, 2024, QStringLiteral("202406"));
    leaveFile(agent, QStringLiteral("ZCGZXJMXB_201703.dat"));
    leaveFile(agent, QStringLiteral("KJSDSBGB_202011.dat"));
    leaveFile(agent, QStringLiteral("BFZYXX.xml").prepend(QStringLiteral("x_2016")));
    leaveFile(QStringLiteral("OTHER-AGENT"), QStringLiteral("FGZXJB_201501.dat"));
    TfrmsjqlMgr* w = open();
    EXPECT_EQ(w->VisibleYearCaptions(), QStringList({QStringLiteral("2023年"), QStringLiteral("2022年"),
                                                     QStringLiteral("2021年"), QStringLiteral("2020年(未完成)"),
                                                     QStringLiteral("2019年"), QStringLiteral("2017年(未完成)")}));
    // The marked boxes are as wide as their text and push the next ones along, never over them.
    expectEvenlySpaced(w, 6);
    QTest::mouseClick(w->YearBox(QStringLiteral("CBX5")), Qt::LeftButton);
    EXPECT_EQ(w->CheckedYears(), QStringList{QStringLiteral("2017")});
    // The user is told once, on the first show.
    ASSERT_EQ(host::shownBoxes().size(), 1u);
    EXPECT_TRUE(host::shownBoxes()[0].text.contains(QStringLiteral("201703")));
    EXPECT_TRUE(host::shownBoxes()[0].text.contains(QStringLiteral("202011")));
    saveShot(w, QStringLiteral("cleanup-window-unfinished-") + QString::fromLatin1(GetParam()));
}

TEST_P(YearListTest, OnlyAnUnfinishedYearKeepsTheClearButton)
{
    demo(2024, 2024, QStringLiteral("202406"));
    leaveFile(agent, QStringLiteral("FGZXJB_202302.dat"));
    TfrmsjqlMgr* w = open();
    EXPECT_EQ(w->VisibleYearCaptions(), QStringList{QStringLiteral("2023年(未完成)")});
    EXPECT_TRUE(w->btnClear->isEnabled());
    EXPECT_TRUE(w->lblwsj->isHidden());
}

INSTANTIATE_TEST_SUITE_P(Kinds, YearListTest, SJQL_DATABASE_KINDS);

// --- Backup folder, texts and artwork (no database needed: the year query fails quietly) ---

class WindowTest : public test::WindowHost, public ::testing::Test
{
protected:
    void SetUp() override
    {
        setUpHost();
        publish(nullptr, QStringLiteral("SQLITE"), QStringLiteral("202406"), QStringLiteral("03"));
    }
    void TearDown() override { tearDownHost(); }

    void storeBackupPath(const QString& folder)
    {
        const QByteArray file = toGbk(host::subAppUserConfigFile(host::state().curSubAppCode));
        const QByteArray v = toGbk(folder);
        WriteIniValueString(file.constData(), "SysConfig", "BFPATH", v.constData());
    }
    void volumes(QList<TDriveInfo> list)
    {
        cleanup::SetDriveListProvider([list] { return list; });
    }
    QString folderShown() { return open()->edtBFLJ->text(); }
};

TEST_F(WindowTest, BackupFolderRules)
{
    const QString kTail = QStringLiteral("Quarvo/备份");
    const QString homeTail = home.path() + QLatin1Char('/') + kTail;
    const QString stored = home.filePath(QStringLiteral("my backups"));
    ASSERT_TRUE(QDir().mkpath(stored));

    // An existing stored folder is shown as it is, whatever the drives.
    volumes({{QStringLiteral("/"), cleanup::dtFixed}});
    storeBackupPath(QStringLiteral("  ") + stored + QStringLiteral(" "));
    EXPECT_EQ(folderShown(), stored);

    // Without one: the last fixed drive the user has a place on, past a CD drive.
    storeBackupPath(QStringLiteral("   "));
    volumes({{QStringLiteral("/"), cleanup::dtFixed},
             {QStringLiteral("/data/"), cleanup::dtFixed},
             {QStringLiteral("/media/cd/"), cleanup::dtCdRom}});
    EXPECT_EQ(folderShown(), QStringLiteral("/data/") + kTail);

    // An ordinary user may write at no mount point: the place on the root volume is the home folder.
    const bool readOnly = false;
    volumes(
        {{QStringLiteral("/"), cleanup::dtFixed, readOnly}, {QStringLiteral("/data/"), cleanup::dtFixed, readOnly}});
    EXPECT_EQ(folderShown(), homeTail);
    // The administrator may write at the root too, and still gets the home folder, not the top of
    // the file system.
    volumes({{QStringLiteral("/"), cleanup::dtFixed}});
    EXPECT_EQ(folderShown(), homeTail);
    // The home folder on a volume of its own, whose mount point nobody but the administrator writes.
    const QString homeVolume = QFileInfo(home.path()).path() + QLatin1Char('/');
    volumes({{QStringLiteral("/"), cleanup::dtFixed, readOnly}, {homeVolume, cleanup::dtFixed, readOnly}});
    EXPECT_EQ(folderShown(), homeTail);

    // A removable drive counts only when the sub-application runs from it.
    volumes({{QStringLiteral("/"), cleanup::dtFixed}, {QStringLiteral("/media/usb/"), cleanup::dtRemovable}});
    EXPECT_EQ(folderShown(), homeTail);
    const QString homeRoot = home.path() + QLatin1Char('/');
    volumes({{QStringLiteral("/"), cleanup::dtFixed}, {homeRoot, cleanup::dtRemovable}});
    EXPECT_EQ(folderShown(), homeRoot + kTail);

    // No drive taken at all: the default folder still lies in the home folder, never in the
    // process's current folder.
    volumes({{QStringLiteral("/media/usb/"), cleanup::dtRemovable}});
    EXPECT_EQ(folderShown(), homeTail);

    // A stored folder that is gone, and no drive taken: the default folder goes inside it.
    volumes({});
    storeBackupPath(QStringLiteral("/gone/backups"));
    EXPECT_EQ(folderShown(), QStringLiteral("/gone/backups/") + kTail);

    // A relative stored text names a folder in the home folder, even where the current folder has
    // one of that name too.
    QTemporaryDir elsewhere;
    ASSERT_TRUE(QDir(elsewhere.path()).mkpath(QStringLiteral("mine")));
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(elsewhere.path()));
    storeBackupPath(QStringLiteral("mine"));
    EXPECT_EQ(folderShown(), home.path() + QStringLiteral("/mine/") + kTail);
    ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral("mine")));
    EXPECT_EQ(folderShown(), home.path() + QStringLiteral("/mine"));
    storeBackupPath(QStringLiteral("~/mine"));
    EXPECT_EQ(folderShown(), home.path() + QStringLiteral("/mine"));
    QDir::setCurrent(before);

    // The edit only shows the folder; it changes through the browse button.
    EXPECT_FALSE(window->edtBFLJ->isEnabled());
    EXPECT_TRUE(window->edtBFLJ->isReadOnly());
    EXPECT_EQ(window->WorkDir(), host::subAppPath(host::state().curSubAppCode) + QStringLiteral("TEMP/TMPBFMU"));
}

TEST_F(WindowTest, BrowseStartsAtTheFolderShownAndStoresTheChosenOne)
{
    volumes({{QStringLiteral("/"), cleanup::dtFixed, false}});
    TfrmsjqlMgr* w = open();
    const QString before = w->edtBFLJ->text();
    ASSERT_EQ(before, home.path() + QStringLiteral("/Quarvo/备份"));
    QString askedTitle, startedAt;
    TfrmsjqlMgr::SetFolderChooser([&](QWidget*, const QString& title, QString* folder) {
        askedTitle = title;
        startedAt = *folder;
        return false;
    });
    // Before the first backup made the folder, the chooser opens at its nearest existing parent.
    QTest::mouseClick(w->btnLoad, Qt::LeftButton);
    EXPECT_EQ(askedTitle, QStringLiteral("请选择备份目录"));
    EXPECT_EQ(startedAt, home.path());
    EXPECT_EQ(w->edtBFLJ->text(), before);
    ASSERT_TRUE(QDir().mkpath(before));
    QTest::mouseClick(w->btnLoad, Qt::LeftButton);
    EXPECT_EQ(startedAt, before);

    const QString chosen = home.filePath(QStringLiteral("备份 2"));
    TfrmsjqlMgr::SetFolderChooser([&](QWidget*, const QString&, QString* folder) {
        *folder = chosen;
        return true;
    });
    QTest::mouseClick(w->btnLoad, Qt::LeftButton);
    const QByteArray code = toGbk(host::state().curSubAppCode);
    EXPECT_EQ(w->edtBFLJ->text(), chosen);
    EXPECT_EQ(fromGbk(GetSubAppUserConfigParam(code.constData(), "SysConfig", "BFPATH", "")), chosen);

    // A relative answer is stored and shown as the folder in the home folder.
    TfrmsjqlMgr::SetFolderChooser([&](QWidget*, const QString&, QString* folder) {
        *folder = QStringLiteral("rel/备份");
        return true;
    });
    QTest::mouseClick(w->btnLoad, Qt::LeftButton);
    TfrmsjqlMgr::SetFolderChooser(nullptr);
    EXPECT_EQ(w->edtBFLJ->text(), home.path() + QStringLiteral("/rel/备份"));
    EXPECT_EQ(fromGbk(GetSubAppUserConfigParam(code.constData(), "SysConfig", "BFPATH", "")),
              home.path() + QStringLiteral("/rel/备份"));
}

TEST_F(WindowTest, TextsFollowTheHostKind)
{
    TfrmsjqlMgr* w = open();
    EXPECT_TRUE(w->lbltz->text().startsWith(QStringLiteral("清理并备份代扣代缴数据库")));
    EXPECT_EQ(w->lblts->text(), QStringLiteral("升级到最新版代扣代缴可使用本功能。"));
    window.reset();

    test::setVoText(QStringLiteral("QVR_DKDJAPPCODE"), QString());
    w = open();
    EXPECT_TRUE(w->lbltz->text().startsWith(QStringLiteral("清理并备份个税数据采集端数据库")));
    EXPECT_TRUE(w->lbltz->text().endsWith(QStringLiteral("“备份路径”")));
    EXPECT_EQ(w->lblts->text(), QStringLiteral("升级到最新版个税数据采集端可使用本功能。"));
    EXPECT_EQ(w->Label1->text(), QStringLiteral("下，供必要时恢复使用。"));
    saveShot(w, QStringLiteral("cleanup-window-other"));
}

TEST_F(WindowTest, PicturesOfTheWindow)
{
    // The background fades from light blue to the window colour within the top tenth, then stays.
    const QImage back = cleanup::BackgroundPicture(QSize(642, 494));
    EXPECT_EQ(QColor(back.pixel(10, 0)), QColor(201, 226, 248));
    EXPECT_EQ(QColor(back.pixel(10, 60)), QColor(236, 243, 249));
    EXPECT_EQ(QColor(back.pixel(10, 493)), QColor(236, 243, 249));
    EXPECT_GT(qBlue(back.pixel(10, 25)), 248); // between the two

    // The separator is really read back through the JPEG reader.
    ASSERT_TRUE(QImageReader::supportedImageFormats().contains("jpeg"));
    EXPECT_TRUE(cleanup::SeparatorJpegBytes().startsWith("\xFF\xD8"));
    EXPECT_EQ(cleanup::SeparatorPicture().size(), QSize(609, 2));

    // Every button shows a picture of its own size, and a disabled one looks different.
    TfrmsjqlMgr* w = open();
    for (ui::TImageButton* b : {w->btnLoad, w->btnClear, w->btnRegain, w->btnHINT, w->btnShow}) {
        EXPECT_EQ(b->Bitmap().size(), b->size()) << b->objectName().toStdString();
        EXPECT_NE(b->Bitmap(), b->BitmapDisabled());
        EXPECT_NE(b->Bitmap(), b->BitmapOver());
        EXPECT_NE(b->Bitmap(), b->BitmapDown());
    }
    EXPECT_EQ(w->btnClear->size(), QSize(131, 40));
    EXPECT_EQ(w->btnHINT->size(), QSize(195, 43));
    EXPECT_EQ(w->btnLoad->size(), QSize(62, 23));
}

// The host's skin switch turns its own colours warm and tells the module window; the window's
// background, button corners, boxes and tool-page panel follow, and the default skin brings the
// blue back.
TEST_F(WindowTest, TheWindowFollowsTheHostsSkin)
{
    TfrmsjqlMgr* w = open();
    w->resize(780, 560);
    QCoreApplication::processEvents();
    auto backAt = [w] {
        const QImage shot = w->grab().toImage();
        return QColor(shot.pixel(shot.width() - 5, shot.height() - 5));
    };
    auto skin = [w](quint32 back, quint32 bar) {
        host::state().moduleBackColor = back;
        host::state().moduleToolBarColor = bar;
        HostMessageEvent changed(MSG_SKIN_CHANGED);
        QCoreApplication::sendEvent(w, &changed);
        QCoreApplication::processEvents();
    };
    EXPECT_EQ(backAt(), QColor(236, 243, 249));
    EXPECT_EQ(w->pnlToolResize->palette().color(QPalette::Window), QColor(209, 230, 247));

    skin(0xE6F4FD, 0xCDE9FB);
    const QColor warm(253, 244, 230);
    EXPECT_EQ(backAt(), warm);
    saveShot(w, QStringLiteral("cleanup-window-warm-skin"));
    const QImage shot = w->grab().toImage();
    const QColor top(shot.pixel(shot.width() - 5, w->img1->y() + 1));
    EXPECT_GT(top.red(), top.blue()) << "the top of the background stays blue";
    EXPECT_EQ(QColor(w->btnClear->Bitmap().pixel(0, 0)), warm);
    EXPECT_EQ(w->pnlToolResize->palette().color(QPalette::Window), QColor(251, 233, 205));
    EXPECT_EQ(w->YearBox(QStringLiteral("CBX0"))->Color(), warm);
    // The labels keep the colours of the window description.
    EXPECT_EQ(w->lbltz->palette().color(QPalette::WindowText), QColor(128, 128, 128));
    EXPECT_EQ(w->lblwsj->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(w->lblts->palette().color(QPalette::WindowText), QColor(128, 0, 0));

    skin(0xF9F3EC, 0xF7E6D1);
    EXPECT_EQ(backAt(), QColor(236, 243, 249));
    EXPECT_EQ(QColor(w->btnClear->Bitmap().pixel(0, 0)), QColor(236, 243, 249));
}

TEST(DrivesTest, RootOfAPathAndTheMachineVolumes)
{
    const QList<TDriveInfo> drives = {{QStringLiteral("/"), cleanup::dtFixed},
                                      {QStringLiteral("/media/usb/"), cleanup::dtRemovable},
                                      {QStringLiteral("/media/usb/inner/"), cleanup::dtFixed}};
    // The longest root wins, and only whole path components match.
    EXPECT_EQ(cleanup::DriveRootOf(QStringLiteral("/media/usb/inner/app/"), drives),
              QStringLiteral("/media/usb/inner/"));
    EXPECT_EQ(cleanup::DriveRootOf(QStringLiteral("/media/usb"), drives), QStringLiteral("/media/usb/"));
    EXPECT_EQ(cleanup::DriveRootOf(QStringLiteral("/media/usb2/app"), drives), QStringLiteral("/"));
    EXPECT_EQ(cleanup::DriveRootOf(QStringLiteral("relative/app"), drives), QString());

    // The machine's own list: mount points ending with the separator, writable as they say, and
    // none of the system's own volumes.
    for (const TDriveInfo& d : cleanup::PlatformDriveList()) {
        EXPECT_TRUE(d.Root.endsWith(QLatin1Char('/'))) << d.Root.toStdString();
        EXPECT_EQ(QFileInfo(d.Root).isWritable(), d.Writable) << d.Root.toStdString();
        EXPECT_FALSE(d.Root.startsWith(QStringLiteral("/boot/"))) << d.Root.toStdString();
        EXPECT_FALSE(d.Root.startsWith(QStringLiteral("/proc/"))) << d.Root.toStdString();
    }

    // Relative folder texts and where the folder dialogs open.
    QTemporaryDir home;
    const QString h = home.path();
    EXPECT_EQ(cleanup::AbsoluteFromHome(QStringLiteral("/abs/x"), h), QStringLiteral("/abs/x"));
    EXPECT_EQ(cleanup::AbsoluteFromHome(QStringLiteral("Quarvo/备份"), h), h + QStringLiteral("/Quarvo/备份"));
    EXPECT_EQ(cleanup::AbsoluteFromHome(QStringLiteral("./a/../b/"), h), h + QStringLiteral("/b/"));
    EXPECT_EQ(cleanup::AbsoluteFromHome(QStringLiteral("~"), h), h);
    EXPECT_EQ(cleanup::AbsoluteFromHome(QString(), h), QString());
    ASSERT_TRUE(QDir(h).mkpath(QStringLiteral("a")));
    EXPECT_EQ(cleanup::NearestExistingFolder(h + QStringLiteral("/a/b/c"), h), h + QStringLiteral("/a"));
    EXPECT_EQ(cleanup::NearestExistingFolder(QStringLiteral("a"), h), h + QStringLiteral("/a"));
    EXPECT_EQ(cleanup::NearestExistingFolder(QString(), h), h);
}

} // namespace
