// SPDX-License-Identifier: MIT
// Base windows: host skin and its re-application, F1, activation and closed notices, tool-page
// buttons, the input-method rule on XP edits, and "closing frees the window".
#include "helpers/UiTestSupport.h"
#include "hostapi/Gbk.h"
#include "hostapi/ModuleLib.h"
#include "ui/CustomDlg.h"
#include "ui/CustomForm.h"
#include "ui/UiColor.h"

#include <QPointer>
#include <QTest>

using namespace sjql::ui;
using sjql::host::state;

namespace {

QColor windowColor(QWidget* w)
{
    return w->palette().color(QPalette::Window);
}

void setSkin(quint32 back, quint32 toolBar, quint32 topBar, quint32 font, int size)
{
    auto& s = state();
    s.moduleBackColor = back;
    s.moduleToolBarColor = toolBar;
    s.topBarColor = topBar;
    s.sysFontColor = font;
    s.sysFontSize = size;
}

void sendHostMessage(QWidget* w, int number)
{
    sjql::HostMessageEvent e(number);
    QCoreApplication::sendEvent(w, &e);
}

} // namespace

using BaseWindowTest = UiTest;

TEST_F(BaseWindowTest, SkinFromHostIsAppliedAndReappliedOnSkinChange)
{
    setSkin(0x112233, 0x445566, 0x778899, 0x0000FF, 11);
    auto* dlg = new Tfrm_CustomDlgEx;
    auto* form = new Tfrm_CustomEx;
    EXPECT_EQ(windowColor(dlg), colorFromRef(0x112233));
    EXPECT_EQ(windowColor(dlg->pnlTop), colorFromRef(0x778899));
    EXPECT_EQ(dlg->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(dlg->font().pointSize(), 11);
    EXPECT_EQ(dlg->Shape1->BrushColor(), colorFromRef(0x112233));
    EXPECT_EQ(windowColor(form), colorFromRef(0x112233));
    EXPECT_EQ(windowColor(form->ModuleToolbar), colorFromRef(0x445566));
    EXPECT_EQ(windowColor(form->pnlToolResize), colorFromRef(0x445566));

    // The host changes its skin and tells the windows.
    setSkin(0xAABBCC, 0x010203, 0x040506, 0x00FF00, 14);
    sendHostMessage(dlg, sjql::MSG_SKIN_CHANGED);
    sendHostMessage(form, sjql::MSG_SKIN_CHANGED);
    EXPECT_EQ(windowColor(dlg), colorFromRef(0xAABBCC));
    EXPECT_EQ(windowColor(dlg->pnlTop), colorFromRef(0x040506));
    EXPECT_EQ(dlg->font().pointSize(), 14);
    EXPECT_EQ(dlg->Shape1->BrushColor(), colorFromRef(0xAABBCC));
    EXPECT_EQ(windowColor(form->ModuleToolbar), colorFromRef(0x010203));
    EXPECT_EQ(windowColor(form->pnlToolResize), colorFromRef(0x010203));
    EXPECT_EQ(form->palette().color(QPalette::WindowText), QColor(0, 255, 0));
    delete dlg;
    delete form;
}

TEST_F(BaseWindowTest, HostContextIsReadAtCreation)
{
    state().curFuncCode = QStringLiteral("160199");
    state().curSubAppCode = QStringLiteral("16");
    Tfrm_Custom form;
    EXPECT_EQ(form.HostContext().SavedFuncCode, QStringLiteral("160199"));
    EXPECT_EQ(form.HostContext().SubAppCode, QStringLiteral("16"));
    EXPECT_FALSE(form.HostContext().AppPath.isEmpty());
    EXPECT_NE(form.HostContext().UserInfoVO, nullptr);
}

TEST_F(BaseWindowTest, F1SendsHelpRequestToTheMainFrameByHandleOrClassName)
{
    // By handle: the frame of GetMainFrameHandle, even inside a child control (key preview).
    NoticeRecorder frame;
    state().mainFrame = &frame;
    (void)frame.winId();
    auto* form = new Tfrm_CustomEx;
    auto* edit = new TXPFamerEdit(form);
    QTest::keyClick(edit, Qt::Key_F1);
    ASSERT_EQ(frame.of(sjql::MSG_HELP_REQUEST).size(), 1u);
    EXPECT_FALSE(frame.of(sjql::MSG_HELP_REQUEST)[0].copyData);
    EXPECT_EQ(frame.of(sjql::MSG_HELP_REQUEST)[0].wParam, 0);

    // By class name when the host reports no handle; a dialog sends the same message.
    state().mainFrame = nullptr;
    Tfrm_MainFrame named;
    auto* dlg = new Tfrm_CustomDlg;
    QTest::keyClick(dlg, Qt::Key_F1);
    QTest::keyClick(form, Qt::Key_F1);
    EXPECT_EQ(named.of(sjql::MSG_HELP_REQUEST).size(), 2u);
    EXPECT_EQ(frame.of(sjql::MSG_HELP_REQUEST).size(), 1u);
    // Other keys mean nothing to the windows.
    QTest::keyClick(form, Qt::Key_F2);
    EXPECT_EQ(named.notices.size(), 2u);
    delete dlg;
    delete form;
}

TEST_F(BaseWindowTest, F1WithoutAnyMainFrameSendsNothing)
{
    NoticeRecorder bystander; // a top-level window of another class
    auto* form = new Tfrm_Custom;
    auto* dlg = new Tfrm_CustomDlg;
    QTest::keyClick(form, Qt::Key_F1);
    QTest::keyClick(dlg, Qt::Key_F1);
    EXPECT_TRUE(bystander.notices.empty());
    delete dlg;
    delete form;
}

TEST_F(BaseWindowTest, ActivationNoticeGoesOnlyToTheHandleFrame)
{
    Tfrm_MainFrame named; // must never get it: the notice does not use the class-name lookup
    named.show();
    {
        auto* form = new Tfrm_Custom;
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form));
        EXPECT_TRUE(named.of(sjql::MSG_NC_ACTIVATE).empty());
        delete form;
    }

    NoticeRecorder frame;
    state().mainFrame = &frame;
    (void)frame.winId();
    auto* form = new Tfrm_Custom;
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    const auto got = frame.of(sjql::MSG_NC_ACTIVATE);
    ASSERT_GE(got.size(), 1u);
    EXPECT_EQ(got[0].wParam, 1);
    EXPECT_EQ(got[0].lParam, 0);
    EXPECT_TRUE(named.of(sjql::MSG_NC_ACTIVATE).empty());
    delete form;
}

TEST_F(BaseWindowTest, DestructionSendsClosedNoticeWithTheSavedFunctionCode)
{
    NoticeRecorder frame;
    state().mainFrame = &frame;
    state().curFuncCode = QStringLiteral("160101");
    QPointer<Tfrm_Custom> form = new Tfrm_Custom;
    state().curFuncCode = QStringLiteral("999999"); // the host moved on meanwhile
    form->show();
    // The host's close message closes the window, and closing frees it.
    sendHostMessage(form, sjql::MSG_CLOSE_MODULE);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(form.isNull());
    const auto closed = frame.of(sjql::MSG_MODULE_CLOSED);
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_TRUE(closed[0].copyData);
    EXPECT_EQ(closed[0].text, QByteArray("160101"));
}

TEST_F(BaseWindowTest, ToolPageButtonsInformTheHost)
{
    NoticeRecorder frame;
    state().mainFrame = &frame;
    QPointer<Tfrm_CustomEx> form = new Tfrm_CustomEx;
    form->resize(700, 400);
    form->show();
    EXPECT_EQ(form->ToolPageState(), 1);
    EXPECT_TRUE(form->spToolPageMax->isVisible());
    EXPECT_FALSE(form->spToolPageForm->isVisible());
    // The buttons stay at the right end of the tool bar.
    EXPECT_EQ(form->pnlToolResize->geometry().right(), form->ModuleToolbar->width() - 1);

    QTest::mouseClick(form->spToolPageMax, Qt::LeftButton);
    EXPECT_EQ(form->ToolPageState(), 2);
    EXPECT_FALSE(form->spToolPageMax->isVisible());
    EXPECT_TRUE(form->spToolPageForm->isVisible());
    QTest::mouseClick(form->spToolPageForm, Qt::LeftButton);
    EXPECT_EQ(form->ToolPageState(), 1);
    QTest::mouseClick(form->spToolPageMax, Qt::LeftButton);

    // Closing while maximised sends "reset" before the window goes.
    frame.notices.clear();
    QTest::mouseClick(form->spToolPageClose, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(form.isNull());
    ASSERT_EQ(frame.notices.size(), 2u);
    EXPECT_EQ(frame.notices[0].number, sjql::MSG_PAGE_STATE);
    EXPECT_EQ(frame.notices[0].text, QByteArray("reset"));
    EXPECT_EQ(frame.notices[1].number, sjql::MSG_MODULE_CLOSED);

    // While normal, nothing is sent before the closed notice.
    form = new Tfrm_CustomEx;
    form->show();
    frame.notices.clear();
    QTest::mouseClick(form->spToolPageClose, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(frame.notices.size(), 1u);
    EXPECT_EQ(frame.notices[0].number, sjql::MSG_MODULE_CLOSED);
    EXPECT_EQ(frame.of(sjql::MSG_PAGE_STATE).size(), 0u);
}

TEST_F(BaseWindowTest, InputMethodRuleOnXPEdits)
{
    WriteIniValueString(sjql::toGbk(sjql::host::userConfigFile()).constData(), "RunParameter", "SysIME",
                        sjql::toGbk(QStringLiteral("搜狗拼音")).constData());
    auto* dlg = new Tfrm_CustomDlg;
    auto* chinese = new TXPFamerEdit(dlg);
    chinese->SetImeMode(imChinese);
    auto* other = new TXPFamerEdit(dlg);
    other->SetImeMode(imAlpha);
    auto* own = new TXPFamerEdit(dlg);
    own->SetImeMode(imChinese);
    int ownCalls = 0;
    own->OnEnter = [&](QObject*) { ++ownCalls; };
    dlg->show(); // edits added after construction are hooked before the first show

    chinese->OnEnter(chinese);
    EXPECT_EQ(chinese->ImeMode(), imOpen);
    EXPECT_EQ(chinese->ImeName(), QStringLiteral("搜狗拼音"));
    other->OnEnter(other);
    EXPECT_EQ(other->ImeMode(), imClose);
    EXPECT_EQ(other->ImeName(), QStringLiteral("英语"));
    own->OnEnter(own);
    EXPECT_EQ(ownCalls, 1);
    EXPECT_EQ(own->ImeMode(), imChinese);
    EXPECT_TRUE(dlg->ImeName().isEmpty());

    // An edit created later gets the rule with the next skin change.
    auto* late = new TXPFamerEdit(dlg);
    late->SetImeMode(imOpen);
    EXPECT_FALSE(late->OnEnter);
    sendHostMessage(dlg, sjql::MSG_SKIN_CHANGED);
    ASSERT_TRUE(late->OnEnter);
    // Entering it for real (focus) applies the rule.
    dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg));
    late->show();
    late->setFocus();
    EXPECT_EQ(late->ImeName(), QStringLiteral("搜狗拼音"));
    delete dlg;
}

TEST_F(BaseWindowTest, SysImeMissingGivesThePlaceholderName)
{
    Tfrm_CustomDlg dlg;
    auto* edit = new TXPFamerEdit(&dlg);
    edit->SetImeMode(imChinese);
    sendHostMessage(&dlg, sjql::MSG_SKIN_CHANGED);
    edit->OnEnter(edit);
    EXPECT_EQ(edit->ImeName(), QStringLiteral("-请选择-"));
}

TEST_F(BaseWindowTest, ModalDialogIsReleasedAfterItsLoopUnlessTheCallerDeletesIt)
{
    Tfrm_CustomDlg::SetDialogScript([](Tfrm_CustomDlg& d) { d.close(); });
    QPointer<Tfrm_CustomDlg> dlg = new Tfrm_CustomDlg;
    dlg->exec();
    // Still readable after the modal loop ...
    ASSERT_FALSE(dlg.isNull());
    EXPECT_FALSE(dlg->isVisible());
    // ... and released from the event loop later.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(dlg.isNull());

    // A caller that deletes the dialog itself cancels the queued release.
    dlg = new Tfrm_CustomDlg;
    dlg->exec();
    delete dlg.data();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Tfrm_CustomDlg::SetDialogScript({});

    // Esc does not end a base dialog; its buttons and the host do.
    Tfrm_CustomDlg::SetDialogScript([](Tfrm_CustomDlg& d) {
        QTest::keyClick(&d, Qt::Key_Escape);
        EXPECT_TRUE(d.isVisible());
        d.done(QDialog::Accepted);
    });
    dlg = new Tfrm_CustomDlg;
    EXPECT_EQ(dlg->exec(), QDialog::Accepted);
    Tfrm_CustomDlg::SetDialogScript({});
    delete dlg.data();
}

TEST_F(BaseWindowTest, WindowsMatchTheirDescriptions)
{
    Tfrm_CustomDlg dlg;
    EXPECT_EQ(dlg.size(), QSize(491, 312));
    EXPECT_EQ(dlg.sBtnClose->geometry(), QRect(410, 279, 67, 22));
    EXPECT_EQ(dlg.sBtnClose->text(), QStringLiteral("关闭"));
    EXPECT_EQ(dlg.lbBusinessName->text(), QStringLiteral("模块名称"));
    EXPECT_TRUE(dlg.lblBrand->isHidden());
    Tfrm_CustomDlgEx ex;
    EXPECT_TRUE(ex.pnlTop->isHidden());
    EXPECT_TRUE(ex.Bevel1->isHidden());
    // No brand caption in the corner; the dotted line runs from the left edge instead.
    EXPECT_TRUE(ex.lblBrand->isHidden());
    EXPECT_EQ(ex.Shape1->geometry(), QRect(14, 267, 461, 1));
    Tfrm_CustomEx form;
    EXPECT_EQ(form.size(), QSize(542, 373));
    EXPECT_EQ(form.pnlToolResize->size(), QSize(47, 22));
    EXPECT_EQ(form.spToolPageClose->toolTip(), QStringLiteral("关闭窗口"));

    // Their colours, with the host's default skin: the module background, the green top bar with
    // its white caption, the button face of the classic desktop, the tool bar's colour.
    const QColor back(0xEC, 0xF3, 0xF9), topBar(0x88, 0xCC, 0x7F), face(0xF0, 0xF0, 0xF0), toolBar(0xD1, 0xE6, 0xF7);
    const QColor glyph(0x33, 0x33, 0x33);
    dlg.show();
    const QImage d = dlg.grab().toImage();
    EXPECT_EQ(d.pixelColor(5, 5), topBar);
    EXPECT_EQ(d.pixelColor(300, 30), topBar);
    EXPECT_EQ(d.pixelColor(300, 37), back);
    EXPECT_EQ(d.pixelColor(200, 150), back);
    const QRect caption = dlg.lbBusinessName->geometry();
    EXPECT_GT(pixelsOf(d, caption, Qt::white, 40), 30) << "the caption is white";
    EXPECT_EQ(pixelsOf(d, caption, Qt::black, 96), 0);
    // The sunken line above the button, darker than the window.
    EXPECT_LT(qGray(d.pixel(200, 264)) + qGray(d.pixel(200, 265)), 2 * qGray(back.rgb()) - 40);
    EXPECT_EQ(d.pixelColor(413, 282), face);
    EXPECT_EQ(d.pixelColor(410, 290), QColor(0x6B, 0x6B, 0x6B)) << "the button's frame: its grey shadow, darker";
    EXPECT_GT(pixelsOf(d, dlg.sBtnClose->geometry().adjusted(1, 1, -1, -1), Qt::black, 64), 10) << "its caption";

    // No top bar: the window colour reaches the top; a dotted line instead of the sunken one.
    ex.show();
    const QImage e = ex.grab().toImage();
    EXPECT_EQ(e.pixelColor(5, 5), back);
    EXPECT_EQ(e.pixelColor(300, 18), back);
    const QColor dots(0x7F, 0x9D, 0xB9);
    const int dotted = pixelsOf(e, QRect(14, 267, 461, 1), dots);
    EXPECT_GT(dotted, 461 / 3);
    EXPECT_LT(dotted, 461 * 2 / 3);
    EXPECT_EQ(e.pixelColor(12, 267), back);
    EXPECT_EQ(pixelsOf(e, QRect(0, 264, 491, 3), dots), 0);

    // The form: its tool bar across the top, the tool-page buttons at the right end of it.
    form.show();
    const QImage f = form.grab().toImage();
    EXPECT_EQ(f.pixelColor(100, 10), toolBar);
    EXPECT_EQ(f.pixelColor(200, 200), back);
    const QRect close(form.spToolPageClose->mapTo(&form, QPoint()), form.spToolPageClose->size());
    const QRect max(form.spToolPageMax->mapTo(&form, QPoint()), form.spToolPageMax->size());
    EXPECT_GT(pixelsOf(f, close, glyph), 10) << "the cross";
    EXPECT_GT(pixelsOf(f, max, glyph), 10) << "the window";
    Tfrm_Custom plain;
    plain.show();
    const QImage p = plain.grab().toImage();
    EXPECT_EQ(p.pixelColor(100, 10), toolBar);
    EXPECT_EQ(p.pixelColor(200, 200), back);
    EXPECT_EQ(pixelsOf(p, QRect(480, 0, 62, 30), glyph), 0) << "no tool-page buttons";
}
