// SPDX-License-Identifier: MIT
// Progress jobs: a modal progress window whose worker thread walks a work list and hands every
// item procedure to the GUI thread, waiting until it returns.
//
// Threads: Run(), the window, the item procedures, the timer and ThreadDone all run on the GUI
// thread. The worker (TprogressThread) only sequences the list; each of its display updates and
// item calls is a blocking queued call into the GUI thread, served by the window's modal loop. The
// values both threads touch (cancel flag, counters, success flag) are atomics. The worker frees
// itself when its body ends and never touches the window after ThreadDone was queued.
//
// Ownership: the caller owns the job, the job owns its work list, Run() owns the window and the
// window owns the result list of the run.
#pragma once

#include "ui/CustomDlg.h"
#include "ui/DispResult.h"
#include "ui/Gauge.h"

#include <QLabel>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace sjql::ui {

class TMyProgress;

// An item procedure: (job, the item's parameter, operation text in/out, item progress 0..100
// in/out, the run's result list) -> true when the item succeeded. Runs on the GUI thread. An
// exception it throws ends the run quietly (ThreadDone still runs).
using TProgressProc = std::function<bool(TMyProgress* sender, void* param, QString& operationText, qint16& itemProgress,
                                         TDispResultList* results)>;

struct TProgressItem
{
    QString Caption; // appended to the step line; empty selects the default text
    TProgressProc Proc;
    void* Param = nullptr; // passed unchanged to Proc
};

// The work list: owns copies of its items, in the order they were added.
class TlistProcess
{
public:
    void Add(const TProgressItem& item) { FItems.push_back(item); }
    int Count() const { return static_cast<int>(FItems.size()); }
    TProgressItem GetItem(int index) const { return FItems.at(static_cast<size_t>(index)); }
    void Clear() { FItems.clear(); }

private:
    std::vector<TProgressItem> FItems;
};

enum TProgressMode : quint8
{
    pmItems = 0,
    pmSteps = 1,
    pmTimed = 2,
};

class TMyProgress
{
public:
    TMyProgress(const QString& title, bool showResult, bool autoClose, bool cancelEnabled, bool stopOnFailure,
                TProgressMode mode);
    TMyProgress(const TMyProgress&) = delete;
    TMyProgress& operator=(const TMyProgress&) = delete;

    // Shows the progress window modally, runs the work list, then shows the collected lines in the
    // result dialog when ShowResult is set and there are any. GUI thread only. Returns the run's
    // success flag: that of the last item that ran, false after a cancel.
    bool Run();
    // Step mode: the number of steps; tells the window if one is showing.
    void SetStepCount(quint16 count);

    QString Title;
    bool ShowResult;
    QString ResultTitle; // caption of the result dialog; empty selects "结果提示"
    bool AutoClose;
    bool StopOnFailure;
    TlistProcess Items;
    std::atomic<bool> Cancelled{false};
    // Hand-off entry points, bound by the progress window while it exists; for item procedures.
    std::function<void(TMyProgress*)> OnRefresh;
    std::function<void(qint16 value, const QString& text)> OnSetItemProgress;
    std::function<void(const QString& text)> OnStepNext;
    std::function<void(quint16 count)> OnSetStepCount;
    std::function<void(double value)> OnSetEstimate;
    bool CancelEnabled;
    TProgressItem CurrentItem; // written inside the hand-off, on the GUI thread
    std::function<void(TMyProgress*)> OnCancel;
    TProgressMode Mode;
    std::atomic<quint16> StepCount{0};
    double Estimate = 9000.0;
    std::atomic<int> CurrentIndex{0};
};

class Tfrm_CustomProgress : public Tfrm_CustomDlg
{
    Q_OBJECT
    // Readable by name, so a host can follow the run between the display's 100 ms refreshes.
    Q_PROPERTY(QString OperationText MEMBER OperationText)
    Q_PROPERTY(qint16 ItemProgress MEMBER ItemProgress)
public:
    Tfrm_CustomProgress(QWidget* owner, TMyProgress* job);
    ~Tfrm_CustomProgress() override;

    double StartTime = 0; // days
    qint16 ItemProgress = 0;
    QString OperationText;
    std::atomic<int> DoneCount{0};
    TMyProgress* Job; // not owned
    std::unique_ptr<TDispResultList> ResultList;
    std::atomic<bool> Succeeded{false};

    QLabel* lable_operatoin = nullptr;
    TGauge* ProgressBar_item = nullptr;
    QLabel* Label_process = nullptr;
    TGauge* ProgressBar_total = nullptr;
    QTimer* Timer_progress = nullptr;
    // The note shown when the user tries to close the window during the run.
    QLabel* lblBusy = nullptr;

    void RefreshDisplay();
    void ThreadDone();
    void sBtnCloseClick();
    void Timer_progressTimer();

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void EscapePressed() override;

private:
    void FormShow();
    // A close attempt during the run: a beep and the note beside the button.
    void RefuseClose();

    bool FShown = false;
    bool FRunning = false;
};

class TprogressThread : public QThread
{
    Q_OBJECT
public:
    explicit TprogressThread(Tfrm_CustomProgress* form);

    Tfrm_CustomProgress* const Form; // not owned

protected:
    void run() override;

private:
    // Runs `f` on the GUI thread and waits for it (a queued call ordered by a standard mutex, so
    // the thread sanitizer sees the hand-off); an exception thrown there comes back here.
    void Synchronize(const std::function<void()>& f);
};

// Days since the epoch, fractional: the time unit of the timed mode.
double NowInDays();

} // namespace sjql::ui
