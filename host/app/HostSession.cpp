// SPDX-License-Identifier: MIT
#include "HostSession.h"

#include "StopSignals.h"
#include "host/services/HostServicesAdmin.h"
#include "hostapi/SjqlEntry.h"
#include "module/jobs/RunOutcome.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPixmap>
#include <QThread>

namespace sjql::host {

QStringList distinctArchivePaths(const QStringList& arguments, QString* twice)
{
    QStringList archives;
    for (const QString& a : arguments) {
        const QString path = QFileInfo(a).absoluteFilePath();
        const QString same = QFileInfo(path).canonicalFilePath();
        for (const QString& earlier : archives) {
            if (earlier == path || (!same.isEmpty() && QFileInfo(earlier).canonicalFilePath() == same)) {
                *twice = a;
                return {};
            }
        }
        archives << path;
    }
    return archives;
}

QString moduleLibraryPath()
{
    return hostLibraryDir() + QLatin1String(SJQL_MODULE_LIBRARY_NAME);
}

void settle(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(10);
    }
}

HostSession::HostSession() = default;

HostSession::~HostSession()
{
    if (m_frame) {
        m_frame->closeAllModules();
        settle(50);
        m_frame.reset();
    }
    if (m_installation)
        m_installation->closeConnection();
    state().valueObject.clear();
}

bool HostSession::start(const CommandLine& cl, QString* error)
{
    m_installation = std::make_unique<Installation>(cl.value(QStringLiteral("home"), Installation::defaultHome()));
    if (!m_installation->load(error))
        return false;
    if (!applyAgentOption(cl, *m_installation, error))
        return false;
    if (!m_installation->openConnection(error)) {
        *error = QStringLiteral("无法打开宿主数据库（%1）").arg(*error);
        return false;
    }
    m_frame = std::make_unique<Tfrm_MainFrame>(*m_installation);
    m_installation->publish(m_frame.get(), m_frame.get());
    m_frame->show();
    if (!m_frame->loadModule(moduleLibraryPath(), error))
        return false;
    settle(50);
    return true;
}

QStringList installationAgents(const Installation& installation)
{
    QStringList codes{installation.config.agentCode};
    for (const QString& code : installation.config.agentCodes) {
        if (!codes.contains(code))
            codes << code;
    }
    return codes;
}

bool applyAgentOption(const CommandLine& cl, Installation& installation, QString* error)
{
    if (!cl.has(QStringLiteral("agent")))
        return true;
    const QString code = cl.value(QStringLiteral("agent"));
    const QStringList known = installationAgents(installation);
    if (!known.contains(code)) {
        *error = QStringLiteral("“%1”不是此安装的扣缴义务人（有：%2）").arg(code, known.join(QLatin1Char(',')));
        return false;
    }
    installation.config.agentCode = code;
    return true;
}

QStringList HostSession::agents() const
{
    return installationAgents(*m_installation);
}

QString HostSession::agent() const
{
    return m_installation->config.agentCode;
}

bool HostSession::switchAgent(const QString& code, QString* error)
{
    if (!agents().contains(code)) {
        *error = QStringLiteral("“%1”不是此安装的扣缴义务人").arg(code);
        return false;
    }
    if (code == agent())
        return true;
    m_frame->closeAllModules();
    settle(50);
    m_installation->config.agentCode = code;
    m_installation->publish(m_frame.get(), m_frame.get());
    return true;
}

bool HostSession::screenshot(const QString& file, QString* error) const
{
    QDir().mkpath(QFileInfo(file).absolutePath());
    const QPixmap picture = m_frame->grab();
    if (picture.isNull() || !picture.save(file, "PNG")) {
        *error = QStringLiteral("无法写入截图文件“%1”").arg(file);
        return false;
    }
    return true;
}

QWidget* HostSession::startScripted(const CommandLine& cl, QString* error)
{
    return start(cl, error) ? openScriptedModule(error) : nullptr;
}

QWidget* HostSession::openScriptedModule(QString* error)
{
    setBoxScript([](const ShownBox& box) {
        printValue(QStringLiteral("box"), box.text);
        return true;
    });
    QWidget* form = m_frame ? m_frame->openModule(false) : nullptr;
    if (!form) {
        *error = QStringLiteral("模块没有打开窗口");
        return nullptr;
    }
    settle(200);
    return form;
}

void HostSession::stopOnSignals()
{
    if (m_stopSignals)
        return;
    m_stopSignals = std::make_unique<StopSignals>([](int signalNumber) {
        setStopRequested(true);
        note(QStringLiteral("收到 %1：当前月份处理完后停止…").arg(signalName(signalNumber)));
    });
    if (!m_stopSignals->active())
        note(QStringLiteral("无法捕获停止信号，Ctrl-C 会立即结束进程"));
}

void forgetRunEnding(QObject* form)
{
    form->setProperty(kRunEndingProperty, QVariant());
    form->setProperty(kRunSummaryProperty, QVariant());
}

int failRun(const QString& message)
{
    fail(message);
    printValue(QStringLiteral("result"), QStringLiteral("not done: ") + message);
    return kExitFailed;
}

int reportRunEnding(const QObject* form)
{
    const QVariant ending = form ? form->property(kRunEndingProperty) : QVariant();
    if (!ending.isValid())
        return failRun(
            QStringLiteral("模块窗口没有给出运行的结局：运行没有进行，或无法跟踪；请查看上面的输出和数据库"));
    bool ok = false;
    const int code = ending.toInt(&ok);
    const QList<int> known{int(RunEnding::Clean), int(RunEnding::Failures), int(RunEnding::Interrupted),
                           int(RunEnding::Busy)};
    if (!ok || !known.contains(code))
        return failRun(QStringLiteral("模块窗口给出了未知的运行结局（%1）").arg(ending.toString()));
    // One line, whatever the summary holds.
    QString summary = form->property(kRunSummaryProperty).toString();
    summary.replace(QLatin1String("\r\n"), QLatin1String(" ")).replace(QLatin1Char('\n'), QLatin1Char(' '));
    printValue(QStringLiteral("result"), summary);
    return code;
}

void clickWidget(QWidget* w)
{
    const QPointF local(w->width() / 2.0, w->height() / 2.0);
    const QPointF global = w->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &release);
}

} // namespace sjql::host
