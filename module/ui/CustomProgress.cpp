// SPDX-License-Identifier: MIT
#include "ui/CustomProgress.h"

#include "hostapi/ModuleLib.h"
#include "ui/UiColor.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QPointer>

#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>

namespace sjql::ui {

namespace {

// Per-thread COM set-up of the platform this design comes from; nothing to do here, but the
// worker's steps keep their place for it.
struct ComApartment
{
    ComApartment() = default;
    ~ComApartment() = default;
};

// Orders every hand-off between a worker and the GUI thread (see Synchronize).
std::mutex& handOffMutex()
{
    static std::mutex m;
    return m;
}

std::condition_variable& handOffDone()
{
    static std::condition_variable cv;
    return cv;
}

QLabel* makeLine(QWidget* parent, const char* name, int top)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(16, top, 353, 24);
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

TGauge* makeGauge(QWidget* parent, const char* name, int top)
{
    auto* g = new TGauge(parent);
    g->setObjectName(QString::fromLatin1(name));
    g->setGeometry(16, top, 353, 17);
    g->SetForeColor(Qt::green);
    return g;
}

} // namespace

double NowInDays()
{
    return static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 86400000.0;
}

TMyProgress::TMyProgress(const QString& title, bool showResult, bool autoClose, bool cancelEnabled, bool stopOnFailure,
                         TProgressMode mode)
    : Title(title), ShowResult(showResult), AutoClose(autoClose), StopOnFailure(stopOnFailure),
      CancelEnabled(cancelEnabled), Mode(mode)
{}

void TMyProgress::SetStepCount(quint16 count)
{
    StepCount = count;
    if (OnSetStepCount)
        OnSetStepCount(count);
}

bool TMyProgress::Run()
{
    TDispResultList lines;
    QString caption = QStringLiteral("结果提示");
    bool result = false;
    bool showResult = false;
    // Owned by the window in front, so that no window manager can put it behind the host's frame.
    QPointer<Tfrm_CustomProgress> window = new Tfrm_CustomProgress(DialogOwner(), this);
    // Whatever ends the modal display, the lines are collected and the window destroyed.
    const auto collect = [&] {
        showResult = ShowResult;
        if (!ResultTitle.isEmpty())
            caption = ResultTitle;
        if (!window)
            return;
        result = window->Succeeded;
        for (int i = 0; i < window->ResultList->LineCount(); ++i) {
            const TDispResult line = window->ResultList->GetLine(i);
            lines.AddTimedLine(line.Text, line.Color, line.Time);
        }
        delete window.data();
    };
    try {
        window->exec();
    } catch (...) {
        collect();
        throw;
    }
    collect();
    if (showResult && lines.LineCount() > 0)
        ShowResultDialog(&lines, caption, true);
    return result;
}

Tfrm_CustomProgress::Tfrm_CustomProgress(QWidget* owner, TMyProgress* job)
    : Tfrm_CustomDlg(owner), Job(job), ResultList(std::make_unique<TDispResultList>())
{
    // No border icons: the run ends the window, not the user.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint);
    pnlTop->setFixedHeight(0);
    pnlTop->hide();
    Bevel1->hide();
    lblBrand->hide();

    lable_operatoin = makeLine(this, "lable_operatoin", 9);
    ProgressBar_item = makeGauge(this, "ProgressBar_item", 33);
    Label_process = makeLine(this, "Label_process", 57);
    ProgressBar_total = makeGauge(this, "ProgressBar_total", 81);
    sBtnClose->setGeometry(283, 109, 79, 26);
    sBtnClose->setText(QStringLiteral("取消"));
    sBtnClose->SetColor(colorFromRef(0xFCDBC9));
    sBtnClose->SetColorDown(colorFromRef(0xFAC0A2));
    sBtnClose->SetHotTrackColor(colorFromRef(0xFAC0A2));
    sBtnClose->SetShadowColor(colorFromRef(0xFDE5D7));
    sBtnClose->OnClick = [this](QObject*) { sBtnCloseClick(); };
    // Enter and Esc work the button like a click: cancel when cancelling is allowed, close at the end.
    SetKeyButtons(sBtnClose, sBtnClose);
    // Said beside the button when the user tries to close the window while the run goes on.
    lblBusy = new QLabel(QStringLiteral("正在处理，完成后才能关闭本窗口"), this);
    lblBusy->setObjectName(QStringLiteral("lblBusy"));
    lblBusy->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    SetTextColor(lblBusy, colorFromRef(0x000080));
    lblBusy->hide();
    Timer_progress = new QTimer(this);
    Timer_progress->setInterval(100);
    connect(Timer_progress, &QTimer::timeout, this, &Tfrm_CustomProgress::Timer_progressTimer);

    // The gauges take the host's top-bar colour.
    ProgressBar_item->SetForeColor(colorFromRef(gclTopBarColor()));
    ProgressBar_total->SetForeColor(colorFromRef(gclTopBarColor()));

    int height = 142;
    lable_operatoin->clear();
    Label_process->clear();

    Job->OnRefresh = [this](TMyProgress*) { RefreshDisplay(); };
    Job->OnSetItemProgress = [this](qint16 value, const QString& text) {
        if (Job->Mode != pmTimed)
            ItemProgress = value;
        OperationText = text;
        RefreshDisplay();
    };
    Job->OnStepNext = [this](const QString& text) {
        if (Job->Mode != pmSteps || DoneCount >= Job->StepCount)
            return;
        DoneCount = DoneCount + 1;
        Job->CurrentIndex = DoneCount.load();
        ItemProgress = 0;
        if (!text.isEmpty()) {
            Label_process->setText(text);
            OperationText.clear();
        } else {
            ItemProgress = 100;
        }
        RefreshDisplay();
    };
    Job->OnSetStepCount = [this](quint16 count) {
        if (Job->Mode != pmSteps)
            return;
        Job->StepCount = count;
        ProgressBar_total->SetMaxValue(count * 100);
    };
    Job->OnSetEstimate = [this](double value) {
        if (Job->Mode == pmTimed)
            Job->Estimate = value;
    };

    QString title = Job->Title;
    const bool single = (Job->Items.Count() == 1 && Job->Mode == pmItems) || Job->Mode == pmTimed ||
                        (Job->Mode == pmSteps && Job->StepCount == 1);
    if (single) {
        const int d = sBtnClose->y() - Label_process->y();
        ProgressBar_total->hide();
        Label_process->hide();
        height -= d;
        sBtnClose->move(sBtnClose->x(), sBtnClose->y() - d);
        if (title.isEmpty() && Job->Items.Count() > 0)
            title = Job->Items.GetItem(0).Caption;
    }
    sBtnClose->setVisible(Job->CancelEnabled || Job->ShowResult);
    sBtnClose->setEnabled(Job->CancelEnabled);
    if (title.isEmpty())
        title = QStringLiteral("请稍候...");
    if (sBtnClose->isHidden())
        height -= sBtnClose->height();
    lblBusy->setGeometry(16, sBtnClose->y(), sBtnClose->x() - 16 - 8, sBtnClose->height());
    setWindowTitle(title);
    setFixedSize(384, height);

    Timer_progress->stop();
    ProgressBar_item->SetMaxValue(100);
    ProgressBar_item->SetProgress(0);
}

Tfrm_CustomProgress::~Tfrm_CustomProgress()
{
    // The job outlives the window: its hand-off events must not reach a destroyed window.
    Job->OnRefresh = nullptr;
    Job->OnSetItemProgress = nullptr;
    Job->OnStepNext = nullptr;
    Job->OnSetStepCount = nullptr;
    Job->OnSetEstimate = nullptr;
}

void Tfrm_CustomProgress::showEvent(QShowEvent* e)
{
    Tfrm_CustomDlg::showEvent(e);
    if (!FShown) {
        FShown = true;
        FormShow();
    }
}

void Tfrm_CustomProgress::FormShow()
{
    lable_operatoin->clear();
    FRunning = true;
    auto* worker = new TprogressThread(this);
    // Both queued to the GUI thread once the body has returned: the end handler, then the release.
    connect(worker, &QThread::finished, this, &Tfrm_CustomProgress::ThreadDone);
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
    StartTime = NowInDays();
    Timer_progress->start();
}

void Tfrm_CustomProgress::closeEvent(QCloseEvent* e)
{
    // The worker uses the window until ThreadDone: until then nothing closes it, and the user who
    // tried (a window manager's close box, Alt+F4) is told why.
    if (FRunning) {
        e->ignore();
        RefuseClose();
        return;
    }
    Tfrm_CustomDlg::closeEvent(e);
}

void Tfrm_CustomProgress::EscapePressed()
{
    if (FRunning && !sBtnClose->isEnabled()) {
        RefuseClose();
        return;
    }
    Tfrm_CustomDlg::EscapePressed();
}

void Tfrm_CustomProgress::RefuseClose()
{
    QApplication::beep();
    // The note sits in the button's row, which a window without the button does not have.
    if (!sBtnClose->isHidden())
        lblBusy->show();
}

void Tfrm_CustomProgress::RefreshDisplay()
{
    lable_operatoin->setText(OperationText);
    ProgressBar_item->SetProgress(ItemProgress);
    ProgressBar_total->SetProgress((DoneCount - 1) * 100 + ItemProgress);
}

void Tfrm_CustomProgress::Timer_progressTimer()
{
    if (Job->Mode == pmTimed)
        ItemProgress = static_cast<qint16>(std::nearbyint((NowInDays() - StartTime) / Job->Estimate));
    RefreshDisplay();
}

void Tfrm_CustomProgress::ThreadDone()
{
    {
        const std::lock_guard guard(handOffMutex());
    }
    FRunning = false;
    lblBusy->hide();
    sBtnClose->setText(QStringLiteral("关闭"));
    sBtnClose->setEnabled(true);
    if (!sBtnClose->isHidden())
        sBtnClose->setFocus(Qt::OtherFocusReason);
    sBtnClose->update();
    Timer_progress->stop();
    if (Job->AutoClose)
        close();
}

void Tfrm_CustomProgress::sBtnCloseClick()
{
    if (sBtnClose->text() != QStringLiteral("取消")) {
        close();
        return;
    }
    Job->Cancelled = true;
    if (Job->OnCancel)
        Job->OnCancel(Job);
}

TprogressThread::TprogressThread(Tfrm_CustomProgress* form) : Form(form) {}

void TprogressThread::Synchronize(const std::function<void()>& f)
{
    // The call is posted to the GUI thread and the worker waits on a condition variable. The
    // worker posts while holding the hand-off mutex and the GUI side takes it before it reads
    // anything the worker prepared, so every hand-off is ordered by one standard mutex.
    struct Call
    {
        const std::function<void()>* body;
        std::exception_ptr failure;
        bool done = false;
    } call{&f, {}, false};
    std::unique_lock lock(handOffMutex());
    Call* const pending = &call;
    QMetaObject::invokeMethod(
        Form,
        [pending] {
            const std::function<void()>* body = nullptr;
            {
                const std::lock_guard guard(handOffMutex());
                body = pending->body;
            }
            // The body runs without the lock, so it may process events and start runs of its own.
            std::exception_ptr failure;
            try {
                (*body)();
            } catch (...) {
                failure = std::current_exception();
            }
            const std::lock_guard guard(handOffMutex());
            pending->failure = failure;
            pending->done = true;
            handOffDone().notify_all();
        },
        Qt::QueuedConnection);
    handOffDone().wait(lock, [&] { return call.done; });
    if (call.failure)
        std::rethrow_exception(call.failure);
}

void TprogressThread::run()
{
    [[maybe_unused]] const ComApartment com;
    Tfrm_CustomProgress* const form = Form;
    TMyProgress* const job = form->Job;
    // The list is filled before the run and left alone during it.
    const int n = job->Items.Count();
    const bool stopOnFailure = job->StopOnFailure;
    try {
        Synchronize([&] {
            form->Succeeded = true;
            form->ProgressBar_total->SetProgress(0);
            form->DoneCount = 0;
            form->ProgressBar_total->SetMaxValue(job->Mode != pmItems ? job->StepCount * 100
                                                                      : job->Items.Count() * 100);
        });
        for (int i = 0; i < n; ++i) {
            if (job->Cancelled) {
                form->Succeeded = false;
                break;
            }
            const TProgressItem item = job->Items.GetItem(i);
            Synchronize([&] {
                job->CurrentItem = item;
                int k = i + 1;
                int m = n;
                if (job->Mode != pmItems) {
                    k = std::min(form->DoneCount + 1, static_cast<int>(job->StepCount));
                    m = job->StepCount;
                }
                const QString head = QString::asprintf("[%d/%d]：", k, m);
                form->Label_process->setText(
                    head + (item.Caption.isEmpty() ? QStringLiteral("正在进行操作...") : item.Caption));
                if (job->Mode == pmItems) {
                    form->DoneCount = i + 1;
                    form->ItemProgress = 0;
                    job->CurrentIndex = i + 1;
                }
                form->RefreshDisplay();
            });
            Synchronize([&] {
                if (item.Proc)
                    form->Succeeded =
                        item.Proc(job, item.Param, form->OperationText, form->ItemProgress, form->ResultList.get());
            });
            if (stopOnFailure && !form->Succeeded)
                break;
            Synchronize([&] {
                form->ProgressBar_total->SetProgress(form->DoneCount * 100);
                form->ItemProgress = 100;
                form->RefreshDisplay();
            });
        }
    } catch (...) {
        // An item procedure's failure ends the run; the machinery has nothing to add to it, and
        // ThreadDone follows as after a normal end.
    }
    // Everything the worker did happens before ThreadDone, which takes the same mutex.
    const std::lock_guard guard(handOffMutex());
}

} // namespace sjql::ui
