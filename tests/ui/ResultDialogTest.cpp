// SPDX-License-Identifier: MIT
// Result list and result dialogs: link marking and the hand cursor, opening links, saving the text,
// the extended dialog's buttons.
#include "helpers/UiTestSupport.h"
#include "hostapi/Gbk.h"
#include "ui/DispResult.h"
#include "ui/HashTable.h"
#include "ui/ResultTextLayout.h"

#include <QFile>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QThread>

using namespace sjql::ui;

namespace {

// Runs `body` on the dialog once its modal loop runs, then confirms it.
template <class Dialog> void withShownDialog(const std::function<void(Dialog&)>& body)
{
    Tfrm_CustomDlg::SetDialogScript([body](Tfrm_CustomDlg& d) {
        auto* dlg = qobject_cast<Dialog*>(&d);
        ASSERT_NE(dlg, nullptr);
        body(*dlg);
        if (dlg->isVisible())
            dlg->sBtnConfirmClick();
    });
}

QString markedText(const Tfrm_DispResult& d)
{
    QStringList out;
    const QString text = d.edit_result->toPlainText();
    for (const auto& [from, to] : d.LinkRanges())
        out << text.mid(from, to - from);
    return out.join(QLatin1Char('|'));
}

// Where the file name of the path ending a line starts.
int nameStartOf(const QString& line)
{
    return static_cast<int>(line.lastIndexOf(u'/')) + 1;
}

// Centre of the character at a document position, in viewport coordinates.
QPoint pointOfChar(const Tfrm_DispResult& d, int pos)
{
    QTextCursor c(d.edit_result->document());
    c.setPosition(pos);
    const QRect r = d.edit_result->cursorRect(c);
    return QPoint(r.left() + 3, r.center().y());
}

class ResultDialogTest : public UiTest
{
protected:
    void TearDown() override
    {
        Tfrm_CustomDlg::SetDialogScript({});
        Tfrm_DispResult::SetSaveNameScript({});
        Tfrm_DispResult::SetUrlOpener({});
        UiTest::TearDown();
    }
};

} // namespace

TEST_F(ResultDialogTest, ListKeepsCopiesWithThreadTagAndColour)
{
    TDispResultList list;
    list.AddLine(QStringLiteral("一"));
    list.AddColoredLine(QStringLiteral("two"), 0x0000FF);
    ASSERT_EQ(list.LineCount(), 2);
    const TDispResult first = list.GetLine(0);
    EXPECT_EQ(first.Color, 0u);
    EXPECT_GE(first.ThreadTag.size(), 6);
    EXPECT_EQ(first.ThreadTag, first.ThreadTag.toUpper());
    EXPECT_TRUE(first.Time.isValid());
    EXPECT_EQ(list.GetLine(1).Color, 0x0000FFu);
    list.ClearLines();
    EXPECT_EQ(list.LineCount(), 0);
}

TEST_F(ResultDialogTest, LinkWordRule)
{
    EXPECT_TRUE(IsLinkWord("www.example.com"));
    EXPECT_TRUE(IsLinkWord("WwW.example.com"));
    EXPECT_TRUE(IsLinkWord("mailto:a@b.cn"));
    EXPECT_TRUE(IsLinkWord("ftp://host/x"));
    EXPECT_TRUE(IsLinkWord("http://host/www.x"));
    // "MAILTO:" is looked for first: found further on, the word is no link.
    EXPECT_FALSE(IsLinkWord("HTTP://host/MAILTO:x"));
    EXPECT_FALSE(IsLinkWord("see.www.example.com"));
    EXPECT_FALSE(IsLinkWord("plain"));
}

TEST_F(ResultDialogTest, LinksAreMarkedAndOpenedFromTheMouse)
{
    TDispResultList list;
    list.AddLine(QStringLiteral("备份完成 请访问 www.example.com 或者 HTTP://a.cn/MAILTO:x 结束"));
    list.AddColoredLine(QStringLiteral("联系 mailto:help@example.com"), 0x0000FF);
    std::vector<QUrl> opened;
    Tfrm_DispResult::SetUrlOpener([&](const QUrl& u) { opened.push_back(u); });
    bool ran = false;
    withShownDialog<Tfrm_DispResult>([&](Tfrm_DispResult& d) {
        ran = true;
        EXPECT_EQ(markedText(d), QStringLiteral("www.example.com|mailto:help@example.com"));
        const QString text = d.edit_result->toPlainText();
        const int link = static_cast<int>(text.indexOf(QStringLiteral("www.example.com")));
        // Marked blue and underlined; the line's own colour elsewhere.
        QTextCursor c(d.edit_result->document());
        c.setPosition(link + 2);
        EXPECT_TRUE(c.charFormat().fontUnderline());
        EXPECT_EQ(c.charFormat().foreground().color(), QColor(0, 0, 255));
        c.setPosition(static_cast<int>(text.indexOf(QStringLiteral("联系"))) + 1);
        EXPECT_EQ(c.charFormat().foreground().color(), QColor(255, 0, 0));

        QWidget* vp = d.edit_result->viewport();
        QTest::mouseMove(vp, pointOfChar(d, link + 4));
        EXPECT_EQ(d.FLink, QStringLiteral("www.example.com"));
        EXPECT_EQ(vp->cursor().shape(), Qt::PointingHandCursor);
        QTest::mouseClick(vp, Qt::LeftButton, {}, pointOfChar(d, link + 4));
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0].host(), QStringLiteral("www.example.com"));

        // Not a link: the word with "MAILTO:" further on, and a Chinese word.
        QTest::mouseMove(vp, pointOfChar(d, static_cast<int>(text.indexOf(QStringLiteral("HTTP://"))) + 2));
        EXPECT_TRUE(d.FLink.isEmpty());
        EXPECT_NE(vp->cursor().shape(), Qt::PointingHandCursor);
        QTest::mouseClick(vp, Qt::RightButton, {}, pointOfChar(d, 1));
        EXPECT_EQ(opened.size(), 1u);
    });
    ShowResultDialog(&list, QStringLiteral("结果提示"), true);
    EXPECT_TRUE(ran);
}

TEST_F(ResultDialogTest, SavingAppendsGbkTextAndFollowsTheTxtRule)
{
    TDispResultList list;
    list.AddLine(QStringLiteral("第一行"));
    list.AddLine(QStringLiteral("second"));
    const QString dir = home.path() + QLatin1Char('/');
    QString chosen;
    Tfrm_DispResult::SetSaveNameScript([&](const QString& def) {
        EXPECT_EQ(def, QStringLiteral("result.txt"));
        return chosen;
    });
    withShownDialog<Tfrm_DispResult>([&](Tfrm_DispResult& d) {
        EXPECT_FALSE(d.sBtnSave->isHidden());
        chosen = dir + QStringLiteral("report");
        QTest::mouseClick(d.sBtnSave, Qt::LeftButton);
        QTest::mouseClick(d.sBtnSave, Qt::LeftButton);
        chosen = dir + QStringLiteral("REPORT.TXT");
        QTest::mouseClick(d.sBtnSave, Qt::LeftButton);
        chosen.clear(); // cancelled: nothing written
        QTest::mouseClick(d.sBtnSave, Qt::LeftButton);
        // A file that cannot be written is reported and the dialog stays open.
        chosen = dir + QStringLiteral("missing/x.txt");
        QTest::mouseClick(d.sBtnSave, Qt::LeftButton);
        EXPECT_TRUE(d.isVisible());
    });
    ShowResultDialog(&list, QString(), true);

    const QByteArray once = sjql::toGbk(QStringLiteral("第一行\r\nsecond\r\n"));
    QFile report(dir + QStringLiteral("report.txt"));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    EXPECT_EQ(report.readAll(), once + once);
    QFile upper(dir + QStringLiteral("REPORT.TXT.txt"));
    ASSERT_TRUE(upper.open(QIODevice::ReadOnly));
    EXPECT_EQ(upper.readAll(), once);
    EXPECT_FALSE(QFile::exists(dir + QStringLiteral("REPORT.TXT")));
    ASSERT_EQ(sjql::host::shownBoxes().size(), 1u);
    EXPECT_TRUE(sjql::host::shownBoxes()[0].text.contains(QStringLiteral("missing/x.txt")));
}

TEST_F(ResultDialogTest, ExtendedDialogButtons)
{
    TDispResultList list;
    list.AddLine(QStringLiteral("2019年03月 不能清理"));

    // As the backup pre-check uses it: "确定" and "取消"; cancel answers false.
    Tfrm_CustomDlg::SetDialogScript([](Tfrm_CustomDlg& d) {
        auto& ex = dynamic_cast<Tfrm_DispResultEx&>(d);
        EXPECT_EQ(ex.windowTitle(), QStringLiteral("系统提示"));
        EXPECT_TRUE(ex.sBtnConfirm->isVisible());
        EXPECT_EQ(ex.sBtnConfirm->text(), QStringLiteral("确定"));
        EXPECT_EQ(ex.sBtnConfirm->geometry(), QRect(427, 281, 67, 22));
        EXPECT_TRUE(ex.btnCancel->isVisible());
        EXPECT_EQ(ex.btnCancel->geometry(), QRect(504, 281, 67, 22));
        EXPECT_FALSE(ex.sBtnSave->isVisible());
        EXPECT_FALSE(ex.sBtnClose->isVisible());
        EXPECT_EQ(ex.edit_result->toPlainText(), QStringLiteral("2019年03月 不能清理"));
        QTest::mouseClick(ex.btnCancel, Qt::LeftButton);
    });
    EXPECT_FALSE(ShowResultDialogEx(&list, QStringLiteral("系统提示"), false, true, QString(), QString()));

    Tfrm_CustomDlg::SetDialogScript([](Tfrm_CustomDlg& d) {
        auto& ex = dynamic_cast<Tfrm_DispResultEx&>(d);
        QTest::mouseClick(ex.sBtnConfirm, Qt::LeftButton);
    });
    EXPECT_TRUE(ShowResultDialogEx(&list, QString(), false, true, QString(), QString()));

    // Captions, "null" hiding a button, and the confirm button taking the cancel button's place.
    Tfrm_CustomDlg::SetDialogScript([](Tfrm_CustomDlg& d) {
        auto& ex = dynamic_cast<Tfrm_DispResultEx&>(d);
        EXPECT_EQ(ex.sBtnConfirm->text(), QStringLiteral("继续"));
        EXPECT_EQ(ex.sBtnConfirm->geometry().topLeft(), QPoint(504, 281));
        EXPECT_FALSE(ex.btnCancel->isVisible());
        EXPECT_FALSE(ex.sBtnSave->isVisible()); // a confirm caption hides the save button
        QTest::mouseClick(ex.sBtnConfirm, Qt::LeftButton);
    });
    EXPECT_TRUE(ShowResultDialogEx(&list, QString(), true, false, QStringLiteral("继续"), QStringLiteral("放弃")));

    Tfrm_CustomDlg::SetDialogScript([](Tfrm_CustomDlg& d) {
        auto& ex = dynamic_cast<Tfrm_DispResultEx&>(d);
        EXPECT_FALSE(ex.sBtnConfirm->isVisible());
        EXPECT_TRUE(ex.btnCancel->isVisible());
        EXPECT_EQ(ex.btnCancel->text(), QStringLiteral("返回"));
        ex.btnCancelClick();
    });
    EXPECT_FALSE(ShowResultDialogEx(&list, QString(), false, true, QStringLiteral("null"), QStringLiteral("返回")));
}

// What the user sees of the lines: each in its own colour, the link marked blue, on the buttons'
// own face colour.
TEST_F(ResultDialogTest, EmptyListShowsAnEmptyBoxAndLinesInTheirColours)
{
    TDispResultList list;
    withShownDialog<Tfrm_DispResult>([](Tfrm_DispResult& d) { EXPECT_TRUE(d.edit_result->toPlainText().isEmpty()); });
    ShowResultDialog(&list, QString(), false);

    list.AddLine(QStringLiteral("2019年备份清理完成，备份文件：/tmp/2019.zip"));
    list.AddColoredLine(QStringLiteral("2019年05月：没有可清理的数据"), 0x0000FF);
    list.AddLine(QStringLiteral("详见 www.example.com"));
    const QColor black(Qt::black), red(255, 0, 0), blue(0, 0, 255), buttonFace(0xC9, 0xDB, 0xFC);
    int checked = 0;
    const auto expectPainted = [&](Tfrm_DispResult& d) {
        ++checked;
        QWidget* view = d.edit_result->viewport();
        const QImage shot = view->grab().toImage();
        // The band of a line: from the top of its first character as tall as its text.
        const auto band = [&](int line) {
            QTextCursor c(d.edit_result->document()->findBlockByNumber(line));
            const QRect r = d.edit_result->cursorRect(c);
            return QRect(0, r.top(), view->width(), r.height());
        };
        // Anti-aliased glyphs reach their pure colour only inside their strokes.
        constexpr int tolerance = 60;
        EXPECT_GT(pixelsOf(shot, band(0), black, tolerance), 40);
        EXPECT_EQ(pixelsOf(shot, band(0), red, tolerance), 0);
        EXPECT_GT(pixelsOf(shot, band(1), red, tolerance), 40);
        EXPECT_EQ(pixelsOf(shot, band(1), black, tolerance), 0);
        EXPECT_GT(pixelsOf(shot, band(2), blue, tolerance), 20) << "the link";
        EXPECT_GT(pixelsOf(shot, band(2), black, tolerance), 10) << "the text before it";
        const QImage whole = d.grab().toImage();
        EXPECT_EQ(whole.pixelColor(d.sBtnConfirm->geometry().topLeft() + QPoint(3, 3)), buttonFace);
    };
    withShownDialog<Tfrm_DispResult>(expectPainted);
    ShowResultDialog(&list, QString(), true);
    withShownDialog<Tfrm_DispResultEx>(expectPainted);
    ShowResultDialogEx(&list, QStringLiteral("系统提示"), false, true, QString(), QString());
    EXPECT_EQ(checked, 2);
}

// A result line naming an archive: the box wraps it, but the path only after a "/", so the
// archive's name (with its year) stays whole on one line; the text itself is unchanged, and a plain
// Chinese sentence still wraps between its characters.
TEST_F(ResultDialogTest, PathsWrapOnlyAfterTheirSeparators)
{
    const QString path = QStringLiteral("/home/user/.local/share/sjql-host/Apps/16/TEMP/") +
                         QStringLiteral("个税代扣代缴备份文件2021年_91110100MA08372364_20261208131214561.zip");
    const QString line = QStringLiteral("2021年度的数据已备份并清理，备份文件：") + path;
    const QString sentence = QStringLiteral("清理并备份代扣代缴数据库中的历史数据，提升系统效率。").repeated(4);
    TDispResultList list;
    list.AddLine(line);
    list.AddLine(sentence);
    list.AddLine(QStringLiteral("详见 www.example.com"));
    bool ran = false;
    withShownDialog<Tfrm_DispResult>([&](Tfrm_DispResult& d) {
        ran = true;
        EXPECT_EQ(d.edit_result->toPlainText(),
                  line + QLatin1Char('\n') + sentence + QStringLiteral("\n详见 www.example.com"));
        QTextBlock block = d.edit_result->document()->begin();
        const QTextLayout* layout = block.layout();
        ASSERT_GT(layout->lineCount(), 1) << "the line is wider than the box";
        const int pathStart = static_cast<int>(line.indexOf(u'/'));
        const int nameStart = static_cast<int>(line.lastIndexOf(u'/')) + 1;
        for (int i = 1; i < layout->lineCount(); ++i) {
            const int at = layout->lineAt(i).textStart();
            EXPECT_TRUE(at <= pathStart || line[at - 1] == QLatin1Char('/'))
                << "wrapped inside a name before: " << line.mid(at).toStdString();
        }
        // Every line fits the box, and the name is on one line.
        const qreal width = d.edit_result->viewport()->width();
        for (int i = 0; i < layout->lineCount(); ++i)
            EXPECT_LE(layout->lineAt(i).naturalTextWidth(), width);
        EXPECT_EQ(layout->lineForTextPosition(nameStart).lineNumber(),
                  layout->lineForTextPosition(static_cast<int>(line.size()) - 1).lineNumber());

        block = block.next();
        EXPECT_GT(block.layout()->lineCount(), 1);
        // The link is still found and marked.
        EXPECT_EQ(markedText(d), QStringLiteral("www.example.com"));
    });
    ShowResultDialog(&list, QString(), true);
    EXPECT_TRUE(ran);

    // The break places themselves: after the "：" before the path and after each "/", never inside
    // a name; outside the path between the Chinese characters as ever.
    const QList<int> breaks = ResultBreakPositions(line);
    EXPECT_TRUE(breaks.contains(static_cast<int>(line.indexOf(QStringLiteral("/home")))));
    EXPECT_TRUE(breaks.contains(static_cast<int>(line.indexOf(QStringLiteral("share/")))));
    EXPECT_TRUE(breaks.contains(1 + static_cast<int>(line.indexOf(QStringLiteral("数")))));
    for (int at : breaks)
        EXPECT_FALSE(at > nameStartOf(line) && at < line.size()) << at;
}

TEST(HashTableTest, KeysInOrderObjectsByKey)
{
    THashTable t;
    QObject a, b, c;
    for (int i = 0; i < 300; ++i)
        t.Add(QStringLiteral("K%1").arg(i), &a);
    t.Add(QStringLiteral("CBX0"), &b);
    t.Add(QStringLiteral("CBX0"), &c); // replaces
    EXPECT_EQ(t.Count(), 301);
    EXPECT_EQ(t.Get(QStringLiteral("CBX0")), &c);
    EXPECT_EQ(t.Get(QStringLiteral("cbx0")), nullptr);
    EXPECT_EQ(t.KeyAt(0), QStringLiteral("K0"));
    EXPECT_TRUE(t.Remove(QStringLiteral("K0")));
    EXPECT_FALSE(t.Remove(QStringLiteral("K0")));
    EXPECT_EQ(t.KeyAt(0), QStringLiteral("K1"));
    while (t.Count() > 0)
        t.Remove(t.KeyAt(0));
    EXPECT_FALSE(t.Contains(QStringLiteral("CBX0")));
}
