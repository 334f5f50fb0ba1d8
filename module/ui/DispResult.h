// SPDX-License-Identifier: MIT
// Result lines of the long operations and the two dialogs that show them.
//
// The dialogs show the lines read-only, mark web and mail addresses as links (hand cursor, opened with
// the desktop's handler on a click) and append the text to a GBK text file. They borrow the list;
// the caller keeps and frees it. GUI thread only.
#pragma once

#include "jobs/ResultLines.h"
#include "ui/CustomDlg.h"

#include <QDateTime>
#include <QTextEdit>
#include <QUrl>

#include <functional>
#include <vector>

namespace sjql::ui {

using sjql::TDispResult;
using sjql::TDispResultList;

// Word rules of the link marking, over the GBK bytes of the text (exposed for tests).
// A word is a run of bytes 33..172; it is a link when, of "MAILTO:", "HTTP://", "FTP://" and
// "WWW." searched in that order, the first one found stands at its start (ASCII case ignored).
bool IsLinkWord(const QByteArray& word);

class Tfrm_DispResult : public Tfrm_CustomDlgEx
{
    Q_OBJECT
public:
    explicit Tfrm_DispResult(QWidget* parent = nullptr);

    // The list shown; borrowed.
    TDispResultList* FResultList = nullptr;
    // The link under the mouse pointer, as written; empty when none.
    QString FLink;

    QTextEdit* edit_result = nullptr;
    // The thin line drawn around the text box.
    TShape* shpResultFrame = nullptr;
    TModalSpeedButton* sBtnSave = nullptr;
    TModalSpeedButton* sBtnConfirm = nullptr;

    // Fills the box from the list, each line in its colour.
    void FillLines();
    // The whole text, lines joined with CR LF.
    QString ResultText() const;
    // Appends the text and a line break to the chosen file, as GBK; ".txt" is appended when the
    // name does not contain it (case-sensitive). False with `error` set when the file cannot be
    // opened or written.
    [[nodiscard]] bool SaveResultText(const QString& chosenName, QString* error = nullptr) const;
    // Character range [start, end) of each marked link in the box, in order.
    std::vector<std::pair<int, int>> LinkRanges() const { return FLinkRanges; }

    // Seams for unattended runs: the name the save dialog would return (empty = cancelled), and the
    // opener of links (defaults: a file dialog and the desktop's URL handler).
    using SaveNameScript = std::function<QString(const QString& defaultName)>;
    static void SetSaveNameScript(SaveNameScript script);
    using UrlOpener = std::function<void(const QUrl& url)>;
    static void SetUrlOpener(UrlOpener opener);

    void sBtnSaveClick();
    void sBtnConfirmClick();

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    // Places the box and buttons for the client width of the window description.
    void SetupLayout(int clientWidth, int boxWidth, int saveLeft, int confirmLeft);

private:
    void edit_resultChange();
    void edit_resultMouseMove(const QPoint& viewportPos);
    void edit_resultMouseDown();
    int CharAt(const QPoint& viewportPos) const;

    bool FMarking = false;
    Qt::CursorShape FDefaultCursor = Qt::IBeamCursor;
    std::vector<std::pair<int, int>> FLinkRanges;
};

class Tfrm_DispResultEx : public Tfrm_DispResult
{
    Q_OBJECT
public:
    explicit Tfrm_DispResultEx(QWidget* parent = nullptr);

    TModalSpeedButton* btnCancel = nullptr;

    void btnCancelClick();
};

// Shows the lines in the plain result dialog, modally; the caption replaces the window title when
// not empty.
void ShowResultDialog(TDispResultList* list, const QString& caption, bool saveVisible);

// Shows the lines in the extended dialog; true when the user confirmed. A confirm or cancel caption
// of "null" hides that button; without CancelVisible the confirm button takes the cancel button's
// place.
bool ShowResultDialogEx(TDispResultList* list, const QString& caption, bool saveVisible, bool cancelVisible,
                        const QString& confirmCaption, const QString& cancelCaption);

} // namespace sjql::ui
