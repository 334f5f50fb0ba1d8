// SPDX-License-Identifier: MIT
#include "ui/DispResult.h"

#include "hostapi/FileModes.h"
#include "hostapi/Gbk.h"
#include "hostapi/ModuleLib.h"
#include "ui/ResultTextLayout.h"
#include "ui/UiColor.h"

#include <QAbstractTextDocumentLayout>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <QThread>

namespace sjql::ui {

namespace {

Tfrm_DispResult::SaveNameScript& saveNameScript()
{
    static Tfrm_DispResult::SaveNameScript script;
    return script;
}

Tfrm_DispResult::UrlOpener& urlOpener()
{
    static Tfrm_DispResult::UrlOpener opener;
    return opener;
}

bool inWord(char c)
{
    const auto b = static_cast<unsigned char>(c);
    return b >= 33 && b <= 172;
}

// The box's text as the GBK bytes the link rules work on (line breaks as CR LF), with the map
// between byte positions and the box's character positions.
struct ByteText
{
    QByteArray bytes;
    std::vector<int> byteToChar; // character position of each byte
    std::vector<int> charToByte; // first byte of each character position (one extra at the end)

    explicit ByteText(const QString& text)
    {
        charToByte.resize(static_cast<size_t>(text.size()) + 1);
        for (qsizetype i = 0; i < text.size();) {
            const qsizetype n = (text[i].isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
            const QByteArray enc =
                text[i] == QLatin1Char('\n') ? QByteArray("\r\n") : toGbk(QStringView(text).mid(i, n));
            for (qsizetype k = 0; k < n; ++k)
                charToByte[static_cast<size_t>(i + k)] = static_cast<int>(bytes.size());
            for (qsizetype k = 0; k < enc.size(); ++k)
                byteToChar.push_back(static_cast<int>(i));
            bytes.append(enc);
            i += n;
        }
        charToByte.back() = static_cast<int>(bytes.size());
    }

    // Character range covering the bytes [from, to).
    std::pair<int, int> charRange(int from, int to) const
    {
        const int first = byteToChar[static_cast<size_t>(from)];
        int last = byteToChar[static_cast<size_t>(to - 1)] + 1;
        // A surrogate pair is one character of two positions.
        while (static_cast<size_t>(last) < charToByte.size() - 1 &&
               charToByte[static_cast<size_t>(last)] == charToByte[static_cast<size_t>(last - 1)])
            ++last;
        return {first, last};
    }
};

// One of the result dialogs' buttons, in their colours; `click` runs when it is pressed.
TModalSpeedButton* makeResultButton(QWidget* parent, const QString& name, const QString& text,
                                    std::function<void()> click)
{
    auto* b = new TModalSpeedButton(parent);
    b->setObjectName(name);
    b->setText(text);
    b->SetColor(colorFromRef(0xFCDBC9));
    b->SetColorDown(colorFromRef(0xFAC0A2));
    b->SetHotTrackColor(colorFromRef(0xFAC0A2));
    b->SetShadowColor(colorFromRef(0xFDE5D7));
    b->OnClick = [click = std::move(click)](QObject*) { click(); };
    return b;
}

// Deletes a dialog at the end of a scope unless something else deleted it first.
struct DialogGuard
{
    QPointer<QDialog> dialog;
    ~DialogGuard() { delete dialog.data(); }
};

} // namespace

bool IsLinkWord(const QByteArray& word)
{
    const QByteArray upper = word.toUpper(); // ASCII letters only, as the rule has always been
    for (const char* prefix : {"MAILTO:", "HTTP://", "FTP://", "WWW."}) {
        const qsizetype at = upper.indexOf(prefix);
        if (at >= 0)
            return at == 0;
    }
    return false;
}

Tfrm_DispResult::Tfrm_DispResult(QWidget* parent) : Tfrm_CustomDlgEx(parent)
{
    setWindowTitle(QStringLiteral("结果提示"));
    sBtnClose->hide();
    sBtnClose->setEnabled(false);

    edit_result = new QTextEdit(this);
    edit_result->setObjectName(QStringLiteral("edit_result"));
    edit_result->setReadOnly(true);
    edit_result->setFrameShape(QFrame::NoFrame);
    edit_result->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Lines wrap to the box, but a path only after one of its separators.
    edit_result->document()->setDocumentLayout(new TResultTextLayout(edit_result->document()));
    edit_result->setAutoFillBackground(false);
    edit_result->viewport()->setAutoFillBackground(false);
    edit_result->viewport()->setMouseTracking(true);
    edit_result->viewport()->installEventFilter(this);
    FDefaultCursor = edit_result->viewport()->cursor().shape();
    connect(edit_result, &QTextEdit::textChanged, this, &Tfrm_DispResult::edit_resultChange);

    sBtnSave = makeResultButton(this, QStringLiteral("sBtnSave"), QStringLiteral("保存"), [this] { sBtnSaveClick(); });
    sBtnConfirm =
        makeResultButton(this, QStringLiteral("sBtnConfirm"), QStringLiteral("确定"), [this] { sBtnConfirmClick(); });

    SetupLayout(503, 473, 342, 419);
}

void Tfrm_DispResult::SetupLayout(int clientWidth, int boxWidth, int saveLeft, int confirmLeft)
{
    setFixedSize(clientWidth, 312);
    edit_result->setGeometry(15, 15, boxWidth, 242);
    sBtnSave->setGeometry(saveLeft, 281, 67, 22);
    sBtnConfirm->setGeometry(confirmLeft, 281, 67, 22);
    // The dotted line under the box, as wide as it.
    Shape1->setGeometry(15, 267, boxWidth, 1);
}

void Tfrm_DispResult::SetSaveNameScript(SaveNameScript script)
{
    saveNameScript() = std::move(script);
}

void Tfrm_DispResult::SetUrlOpener(UrlOpener opener)
{
    urlOpener() = std::move(opener);
}

bool Tfrm_DispResult::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate)
        FillLines();
    return Tfrm_CustomDlgEx::event(e);
}

void Tfrm_DispResult::showEvent(QShowEvent* e)
{
    edit_result->setProperty("ImeName", QString());
    // The lines are filled on activation; a window system that never activates the dialog still
    // shows them.
    FillLines();
    Tfrm_CustomDlgEx::showEvent(e);
}

void Tfrm_DispResult::FillLines()
{
    // One pass of link marking after the whole text is in, instead of one per added line.
    FMarking = true;
    edit_result->clear();
    QTextCursor cursor(edit_result->document());
    const int n = FResultList ? FResultList->LineCount() : 0;
    for (int i = 0; i < n; ++i) {
        const TDispResult line = FResultList->GetLine(i);
        QTextCharFormat fmt;
        fmt.setForeground(colorFromRef(line.Color));
        if (i > 0)
            cursor.insertBlock();
        cursor.insertText(line.Text, fmt);
    }
    FMarking = false;
    edit_resultChange();
}

QString Tfrm_DispResult::ResultText() const
{
    QString text = edit_result->toPlainText();
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text;
}

void Tfrm_DispResult::edit_resultChange()
{
    if (FMarking)
        return;
    FMarking = true;
    FLinkRanges.clear();
    const ByteText bt(edit_result->toPlainText());
    const int len = static_cast<int>(bt.bytes.size());
    QTextCharFormat link;
    link.setForeground(colorFromRef(0xFF0000));
    link.setFontUnderline(true);
    int a = 0;
    while (a < len) {
        int end = a;
        while (end < len && inWord(bt.bytes[end]))
            ++end;
        if (end == a) {
            ++a;
            continue;
        }
        if (IsLinkWord(bt.bytes.mid(a, end - a))) {
            const auto range = bt.charRange(a, end);
            QTextCursor c(edit_result->document());
            c.setPosition(range.first);
            c.setPosition(range.second, QTextCursor::KeepAnchor);
            c.mergeCharFormat(link);
            FLinkRanges.push_back(range);
        }
        a = end + 1;
    }
    FMarking = false;
}

int Tfrm_DispResult::CharAt(const QPoint& viewportPos) const
{
    const QPointF p(viewportPos.x() + edit_result->horizontalScrollBar()->value(),
                    viewportPos.y() + edit_result->verticalScrollBar()->value());
    QAbstractTextDocumentLayout* layout = edit_result->document()->documentLayout();
    const int pos = layout->hitTest(p, Qt::FuzzyHit);
    if (pos < 0)
        return -1;
    const QTextBlock block = edit_result->document()->findBlock(pos);
    const QRectF box = layout->blockBoundingRect(block);
    const QPointF local = p - box.topLeft();
    const QTextLayout* tl = block.layout();
    for (int i = 0; i < tl->lineCount(); ++i) {
        const QTextLine line = tl->lineAt(i);
        if (local.y() < line.y() || local.y() >= line.y() + line.height())
            continue;
        // Beside the end of a line there is no character.
        if (local.x() < line.x() || local.x() >= line.x() + line.naturalTextWidth())
            return -1;
        return block.position() + line.xToCursor(local.x(), QTextLine::CursorOnCharacter);
    }
    return -1;
}

void Tfrm_DispResult::edit_resultMouseMove(const QPoint& viewportPos)
{
    FLink.clear();
    const QString text = edit_result->toPlainText();
    const int index = CharAt(viewportPos);
    const ByteText bt(text);
    const int len = static_cast<int>(bt.bytes.size());
    const int at = (index >= 0 && index < text.size()) ? bt.charToByte[static_cast<size_t>(index)] : -1;
    if (at < 0 || at >= len || !inWord(bt.bytes[at])) {
        edit_result->viewport()->setCursor(FDefaultCursor);
        return;
    }
    int from = at;
    while (from > 0 && inWord(bt.bytes[from - 1]))
        --from;
    int to = at;
    while (to < len && inWord(bt.bytes[to]))
        ++to;
    const QByteArray word = bt.bytes.mid(from, to - from);
    if (IsLinkWord(word)) {
        FLink = fromGbk(QByteArrayView(word));
        edit_result->viewport()->setCursor(Qt::PointingHandCursor);
    } else {
        edit_result->viewport()->setCursor(FDefaultCursor);
    }
}

void Tfrm_DispResult::edit_resultMouseDown()
{
    if (FLink.isEmpty())
        return;
    // A bare "www." address opens as a web page; a failed open is of no consequence.
    const QUrl url = QUrl::fromUserInput(FLink);
    if (urlOpener())
        urlOpener()(url);
    else
        QDesktopServices::openUrl(url);
}

bool Tfrm_DispResult::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == edit_result->viewport()) {
        if (e->type() == QEvent::MouseMove)
            edit_resultMouseMove(static_cast<QMouseEvent*>(e)->position().toPoint());
        else if (e->type() == QEvent::MouseButtonPress)
            edit_resultMouseDown();
    }
    return Tfrm_CustomDlgEx::eventFilter(watched, e);
}

bool Tfrm_DispResult::SaveResultText(const QString& chosenName, QString* error) const
{
    QString path = chosenName;
    if (!path.contains(QStringLiteral(".txt")))
        path += QStringLiteral(".txt");
    QFile file(path);
    QByteArray bytes = toGbk(ResultText());
    bytes.append("\r\n");
    // A new file is the user's alone: the lines name months, archives and failing rows.
    if (!OpenOwnerOnly(file, QIODevice::WriteOnly | QIODevice::Append) || file.write(bytes) != bytes.size() ||
        !file.flush()) {
        if (error)
            *error = QStringLiteral("结果无法保存到文件“%1”，请另选一个文件（%2）").arg(path, file.errorString());
        return false;
    }
    return true;
}

void Tfrm_DispResult::sBtnSaveClick()
{
    const QString defaultName = QStringLiteral("result.txt");
    const QString name =
        saveNameScript() ? saveNameScript()(defaultName)
                         : QFileDialog::getSaveFileName(this, QString(), defaultName, QStringLiteral("(*.txt *.TXT)"));
    if (name.isEmpty())
        return;
    QString error;
    // The dialog stays open after a failed save, so the user can pick another file.
    if (!SaveResultText(name, &error))
        InfoMsgBox(toGbk(error).constData(), 0);
}

void Tfrm_DispResult::sBtnConfirmClick()
{
    done(QDialog::Accepted);
}

Tfrm_DispResultEx::Tfrm_DispResultEx(QWidget* parent) : Tfrm_DispResult(parent)
{
    btnCancel =
        makeResultButton(this, QStringLiteral("btnCancel"), QStringLiteral("取消"), [this] { btnCancelClick(); });
    SetupLayout(581, 554, 14, 427);
    btnCancel->setGeometry(504, 281, 67, 22);
}

void Tfrm_DispResultEx::btnCancelClick()
{
    close();
}

void ShowResultDialog(TDispResultList* list, const QString& caption, bool saveVisible)
{
    DialogGuard guard;
    auto* dlg = new Tfrm_DispResult;
    guard.dialog = dlg;
    if (!caption.isEmpty())
        dlg->setWindowTitle(caption);
    dlg->sBtnSave->setVisible(saveVisible);
    dlg->FResultList = list;
    dlg->exec();
}

bool ShowResultDialogEx(TDispResultList* list, const QString& caption, bool saveVisible, bool cancelVisible,
                        const QString& confirmCaption, const QString& cancelCaption)
{
    DialogGuard guard;
    auto* dlg = new Tfrm_DispResultEx;
    guard.dialog = dlg;
    if (!caption.isEmpty())
        dlg->setWindowTitle(caption);
    dlg->sBtnSave->setVisible(saveVisible);
    if (!confirmCaption.isEmpty()) {
        dlg->sBtnConfirm->setVisible(confirmCaption != QStringLiteral("null"));
        dlg->sBtnConfirm->setText(confirmCaption);
        dlg->sBtnSave->hide();
    }
    if (!cancelCaption.isEmpty()) {
        dlg->btnCancel->setVisible(cancelCaption != QStringLiteral("null"));
        dlg->btnCancel->setText(cancelCaption);
    }
    if (!cancelVisible) {
        dlg->sBtnConfirm->move(dlg->btnCancel->x(), dlg->sBtnConfirm->y());
        dlg->btnCancel->hide();
    }
    dlg->FResultList = list;
    return dlg->exec() == QDialog::Accepted;
}

} // namespace sjql::ui
