// SPDX-License-Identifier: MIT
// Progress jobs with real worker threads and real modal loops: the hand-off to the GUI thread,
// failures, cancel, exceptions, the step line, the gauges and the window layout.
#include "helpers/UiTestSupport.h"
#include "ui/CustomProgress.h"

#include <QTest>
#include <QThread>

#include <stdexcept>

using namespace sjql::ui;

namespace {

Tfrm_CustomProgress* progressWindow()
{
    return qobject_cast<Tfrm_CustomProgress*>(QApplication::activeModalWidget());
}

// Answers the result dialog (recording its text) and leaves the progress window alone.
class ProgressTest : public UiTest
{
protected:
    void SetUp() override
    {
        UiTest::SetUp();
        Tfrm_CustomDlg::SetDialogScript([this](Tfrm_CustomDlg& d) {
            if (auto* r = qobject_cast<Tfrm_DispResult*>(&d)) {
                resultTexts.push_back(r->edit_result->toPlainText());
                resultTitles.push_back(r->windowTitle());
                r->sBtnConfirmClick();
            }
        });
    }
    void TearDown() override
    {
        Tfrm_CustomDlg::SetDialogScript({});
        UiTest::TearDown();
    }

    // An item that logs its name and answers `ok`.
    TProgressItem item(const QString& name, bool ok, const QString& caption = QString())
    {
        TProgressItem it;
        it.Caption = caption;
        it.Proc = [this, name, ok](TMyProgress*, void*, QString& text, qint16& progress, TDispResultList* results) {
            EXPECT_EQ(QThread::currentThread(), qApp->thread());
            ran << name;
            text = name;
            progress = 50;
            results->AddLine(name + QStringLiteral(" done"));
            return ok;
        };
        return it;
    }

    QStringList ran;
    std::vector<QString> resultTexts;
    std::vector<QString> resultTitles;
};

} // namespace

TEST_F(ProgressTest, ItemsRunOnTheGuiThreadOneAfterAnother)
{
    TMyProgress job(QStringLiteral("正在备份清理文件..."), true, true, false, false, pmItems);
    std::atomic<bool> inside{false};
    TProgressItem slow;
    slow.Proc = [&](TMyProgress* sender, void* param, QString&, qint16& progress, TDispResultList* results) {
        EXPECT_EQ(sender, &job);
        EXPECT_EQ(param, &job);
        EXPECT_EQ(QThread::currentThread(), qApp->thread());
        inside = true;
        // The item lets the window repaint; the worker stays blocked meanwhile.
        for (int i = 0; i <= 100; i += 20) {
            progress = static_cast<qint16>(i);
            QCoreApplication::processEvents();
            QThread::msleep(20);
        }
        inside = false;
        results->AddLine(QStringLiteral("第一项"));
        return true;
    };
    slow.Param = &job;
    job.Items.Add(slow);
    TProgressItem second = item(QStringLiteral("two"), true);
    second.Proc = [&, inner = second.Proc](TMyProgress* s, void* p, QString& t, qint16& g, TDispResultList* r) {
        EXPECT_FALSE(inside);
        return inner(s, p, t, g, r);
    };
    job.Items.Add(second);
    EXPECT_TRUE(job.Run());
    EXPECT_EQ(ran, QStringList{QStringLiteral("two")});
    ASSERT_EQ(resultTexts.size(), 1u);
    EXPECT_EQ(resultTexts[0], QStringLiteral("第一项\ntwo done"));
    EXPECT_EQ(resultTitles[0], QStringLiteral("结果提示"));
}

TEST_F(ProgressTest, FailureOfTheMiddleItemWithAndWithoutStopOnFailure)
{
    {
        TMyProgress job(QString(), true, true, false, false, pmItems);
        job.ResultTitle = QStringLiteral("恢复结果");
        job.Items.Add(item(QStringLiteral("a"), true));
        job.Items.Add(item(QStringLiteral("b"), false));
        job.Items.Add(item(QStringLiteral("c"), true));
        EXPECT_TRUE(job.Run()); // the last item's answer
        EXPECT_EQ(ran.join(QLatin1Char(',')), QStringLiteral("a,b,c"));
        ASSERT_EQ(resultTitles.size(), 1u);
        EXPECT_EQ(resultTitles[0], QStringLiteral("恢复结果"));
    }
    ran.clear();
    {
        TMyProgress job(QString(), false, true, false, true, pmItems);
        job.Items.Add(item(QStringLiteral("a"), true));
        job.Items.Add(item(QStringLiteral("b"), false));
        job.Items.Add(item(QStringLiteral("c"), true));
        EXPECT_FALSE(job.Run());
        EXPECT_EQ(ran.join(QLatin1Char(',')), QStringLiteral("a,b"));
        EXPECT_EQ(resultTexts.size(), 1u); // ShowResult off: no dialog
    }
}

TEST_F(ProgressTest, CancelDuringTheSecondItemStopsBeforeTheThird)
{
    TMyProgress job(QStringLiteral("正在数据恢复..."), true, true, true, false, pmItems);
    int cancels = 0;
    job.OnCancel = [&](TMyProgress* sender) {
        EXPECT_EQ(sender, &job);
        ++cancels;
    };
    job.Items.Add(item(QStringLiteral("a"), true));
    TProgressItem b = item(QStringLiteral("b"), true);
    b.Proc = [&, inner = b.Proc](TMyProgress* s, void* p, QString& t, qint16& g, TDispResultList* r) {
        Tfrm_CustomProgress* w = progressWindow();
        EXPECT_NE(w, nullptr);
        if (w) {
            EXPECT_TRUE(w->sBtnClose->isEnabled());
            EXPECT_EQ(w->sBtnClose->text(), QStringLiteral("取消"));
            QTest::mouseClick(w->sBtnClose, Qt::LeftButton);
            EXPECT_TRUE(w->isVisible()); // the window stays, the item goes on
        }
        return inner(s, p, t, g, r);
    };
    job.Items.Add(b);
    job.Items.Add(item(QStringLiteral("c"), true));
    EXPECT_FALSE(job.Run());
    EXPECT_EQ(cancels, 1);
    EXPECT_TRUE(job.Cancelled);
    EXPECT_EQ(ran.join(QLatin1Char(',')), QStringLiteral("a,b"));
    ASSERT_EQ(resultTexts.size(), 1u);
    EXPECT_EQ(resultTexts[0], QStringLiteral("a done\nb done"));
}

TEST_F(ProgressTest, EmptyWorkListClosesAtOnceAndSucceeds)
{
    TMyProgress job(QString(), true, true, false, false, pmItems);
    EXPECT_TRUE(job.Run());
    EXPECT_TRUE(resultTexts.empty());
}

TEST_F(ProgressTest, StepLinesAndTotalGauge)
{
    TMyProgress job(QStringLiteral("多项"), false, true, false, false, pmItems);
    QStringList lines;
    int total = -1, totalMax = -1;
    const auto look = [&](TMyProgress* sender, void*, QString&, qint16& progress, TDispResultList*) {
        Tfrm_CustomProgress* w = progressWindow();
        EXPECT_NE(w, nullptr);
        if (!w)
            return false;
        lines << w->Label_process->text();
        if (sender->CurrentIndex == 2) {
            progress = 40;
            sender->OnRefresh(sender);
            total = w->ProgressBar_total->Progress();
            totalMax = w->ProgressBar_total->MaxValue();
        }
        return true;
    };
    job.Items.Add(TProgressItem{QStringLiteral("备份"), look, nullptr});
    job.Items.Add(TProgressItem{QString(), look, nullptr});
    job.Items.Add(TProgressItem{QString(), look, nullptr});
    EXPECT_TRUE(job.Run());
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], QStringLiteral("[1/3]：备份"));
    EXPECT_EQ(lines[1], QStringLiteral("[2/3]：正在进行操作..."));
    EXPECT_EQ(total, 140);
    EXPECT_EQ(totalMax, 300);
}

TEST_F(ProgressTest, SingleGaugeLayoutAndButtonRules)
{
    TMyProgress one(QString(), true, true, false, false, pmItems);
    one.Items.Add(TProgressItem{QStringLiteral("备份"), {}, nullptr});
    {
        Tfrm_CustomProgress w(nullptr, &one);
        EXPECT_EQ(w.height(), 142 - 52);
        EXPECT_EQ(w.sBtnClose->y(), 57);
        EXPECT_TRUE(w.ProgressBar_total->isHidden());
        EXPECT_TRUE(w.Label_process->isHidden());
        EXPECT_EQ(w.windowTitle(), QStringLiteral("备份"));
        // Visible for the result, but only usable as a cancel button when cancelling is allowed.
        EXPECT_FALSE(w.sBtnClose->isHidden());
        EXPECT_FALSE(w.sBtnClose->isEnabled());
    }
    TMyProgress quiet(QString(), false, true, false, false, pmItems);
    quiet.Items.Add(TProgressItem{});
    {
        Tfrm_CustomProgress w(nullptr, &quiet);
        EXPECT_EQ(w.windowTitle(), QStringLiteral("请稍候..."));
        EXPECT_TRUE(w.sBtnClose->isHidden());
        EXPECT_EQ(w.height(), 142 - 52 - 26);
    }
    TMyProgress two(QStringLiteral("两项"), true, true, true, false, pmItems);
    two.Items.Add(TProgressItem{});
    two.Items.Add(TProgressItem{});
    {
        Tfrm_CustomProgress w(nullptr, &two);
        EXPECT_EQ(w.height(), 142);
        EXPECT_EQ(w.sBtnClose->geometry(), QRect(283, 109, 79, 26));
        EXPECT_TRUE(w.sBtnClose->isEnabled());
    }
    // The window no longer reaches the job once it is gone.
    EXPECT_FALSE(two.OnRefresh);
}

TEST_F(ProgressTest, ThrowingItemEndsTheRunQuietly)
{
    TMyProgress job(QString(), true, true, false, false, pmItems);
    job.Items.Add(item(QStringLiteral("a"), false));
    TProgressItem bad;
    bad.Proc = [](TMyProgress*, void*, QString&, qint16&, TDispResultList* r) -> bool {
        r->AddLine(QStringLiteral("before the failure"));
        throw std::runtime_error("disk gone");
    };
    job.Items.Add(bad);
    job.Items.Add(item(QStringLiteral("c"), true));
    // The run ends after the failing item; its success flag is the last one set (item a's).
    EXPECT_FALSE(job.Run());
    EXPECT_EQ(ran, QStringList{QStringLiteral("a")});
    EXPECT_TRUE(sjql::host::shownBoxes().empty());
    ASSERT_EQ(resultTexts.size(), 1u);
    EXPECT_EQ(resultTexts[0], QStringLiteral("a done\nbefore the failure"));
}

TEST_F(ProgressTest, WithoutAutoCloseTheCloseButtonEndsTheWindow)
{
    TMyProgress job(QString(), false, false, false, false, pmItems);
    job.Items.Add(item(QStringLiteral("a"), true));
    // Presses the button once the run has ended and the caption has turned to "关闭".
    QTimer presser;
    bool sawDisabled = false;
    QObject::connect(&presser, &QTimer::timeout, [&] {
        Tfrm_CustomProgress* w = progressWindow();
        if (!w)
            return;
        if (w->sBtnClose->text() == QStringLiteral("关闭")) {
            EXPECT_TRUE(w->sBtnClose->isEnabled());
            QTest::mouseClick(w->sBtnClose, Qt::LeftButton);
        } else {
            sawDisabled = sawDisabled || !w->sBtnClose->isEnabled();
            w->close(); // refused while the run goes on
        }
    });
    presser.start(5);
    EXPECT_TRUE(job.Run());
    presser.stop();
}

TEST_F(ProgressTest, TimedModeWithTheCreationEstimateKeepsTheItemGaugeAtZero)
{
    TMyProgress job(QString(), false, true, false, false, pmTimed);
    int seen = -1;
    job.Items.Add(TProgressItem{QString(),
                                [&](TMyProgress*, void*, QString&, qint16&, TDispResultList*) {
                                    // Let a few timer ticks pass.
                                    QTest::qWait(250);
                                    seen = progressWindow()->ProgressBar_item->Progress();
                                    return true;
                                },
                                nullptr});
    EXPECT_TRUE(job.Run());
    EXPECT_EQ(seen, 0);
}

TEST_F(ProgressTest, StepModeAdvancesWithStepNext)
{
    TMyProgress job(QString(), false, true, false, false, pmSteps);
    job.SetStepCount(4);
    QStringList seen;
    job.Items.Add(TProgressItem{QString(),
                                [&](TMyProgress* s, void*, QString&, qint16&, TDispResultList*) {
                                    Tfrm_CustomProgress* w = progressWindow();
                                    s->OnStepNext(QStringLiteral("第一步"));
                                    seen << w->Label_process->text();
                                    s->OnStepNext(QString());
                                    seen << QString::number(w->ProgressBar_total->Progress());
                                    seen << QString::number(w->ProgressBar_total->MaxValue());
                                    seen << QString::number(s->CurrentIndex);
                                    return true;
                                },
                                nullptr});
    EXPECT_TRUE(job.Run());
    EXPECT_EQ(seen.join(QLatin1Char(',')), QStringLiteral("第一步,200,400,2"));
}
