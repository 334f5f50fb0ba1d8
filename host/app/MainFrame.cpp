// SPDX-License-Identifier: MIT
#include "MainFrame.h"

#include "Commands.h"
#include "Installation.h"
#include "host/services/HostServicesAdmin.h"
#include "hostapi/Gbk.h"
#include "hostapi/HostMessages.h"
#include "hostapi/SjqlEntry.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

using namespace sjql;
using namespace sjql::host;

namespace {

const QString kModuleTitle = QStringLiteral("历史数据清理");

// The direct child windows of a module page (the module's window, once it is open).
QList<QWidget*> moduleWindows(QWidget* page)
{
    return page->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
}

QString colourName(quint32 colorRef)
{
    return fromColorRef(colorRef).name();
}

} // namespace

Tfrm_MainFrame::Tfrm_MainFrame(Installation& installation, QWidget* parent)
    : QMainWindow(parent), m_installation(installation)
{
    setObjectName(QStringLiteral("frm_MainFrame"));
    setWindowTitle(QStringLiteral("个人所得税代扣代缴客户端（参考宿主）"));
    resize(920, 700);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // The top bar: product name and the current agent, period and database.
    m_header = new QWidget(central);
    m_header->setObjectName(QStringLiteral("pnlTopBar"));
    m_header->setAutoFillBackground(true);
    auto* headerLayout = new QHBoxLayout(m_header);
    headerLayout->setContentsMargins(12, 8, 12, 8);
    auto* title = new QLabel(QStringLiteral("个人所得税代扣代缴客户端"), m_header);
    QFont titleFont = title->font();
    titleFont.setPointSize(13);
    titleFont.setBold(true);
    title->setFont(titleFont);
    m_headerInfo = new QLabel(m_header);
    headerLayout->addWidget(title);
    headerLayout->addStretch(1);
    headerLayout->addWidget(m_headerInfo);
    layout->addWidget(m_header);

    // The container area: a home page, then one closable tab per opened module.
    m_tabs = new QTabWidget(central);
    m_tabs->setObjectName(QStringLiteral("pgcContainer"));
    m_tabs->setTabsClosable(true);
    m_tabs->setDocumentMode(true);
    m_home = new QWidget(m_tabs);
    auto* homeLayout = new QVBoxLayout(m_home);
    homeLayout->setContentsMargins(32, 32, 32, 32);
    auto* welcome = new QLabel(QStringLiteral("欢迎使用个人所得税代扣代缴客户端。\n\n"
                                              "“历史数据清理”把往年的扣缴明细备份成压缩文件后从数据库中清理，"
                                              "需要时可以用“数据恢复”找回。"),
                               m_home);
    welcome->setWordWrap(true);
    auto* openButton = new QPushButton(QStringLiteral("打开历史数据清理"), m_home);
    openButton->setObjectName(QStringLiteral("btnOpenSJQL"));
    connect(openButton, &QPushButton::clicked, this, [this] { openModule(); });
    homeLayout->addWidget(welcome);
    homeLayout->addWidget(openButton, 0, Qt::AlignLeft);
    homeLayout->addStretch(1);
    m_tabs->addTab(m_home, QStringLiteral("首页"));
    m_tabs->tabBar()->setTabButton(0, QTabBar::RightSide, nullptr);
    connect(m_tabs, &QTabWidget::tabCloseRequested, this, [this](int index) {
        QWidget* page = m_tabs->widget(index);
        if (!page || page == m_home)
            return;
        // The host asks the module window to close (1280); the page goes once it has.
        for (QWidget* w : moduleWindows(page)) {
            HostMessageEvent closeRequest(MSG_CLOSE_MODULE);
            QCoreApplication::sendEvent(w, &closeRequest);
        }
        QTimer::singleShot(0, this, [this] { sweepClosedModules(); });
    });
    layout->addWidget(m_tabs, 1);
    setCentralWidget(central);

    QMenu* menu = menuBar()->addMenu(QStringLiteral("系统(&S)"));
    menu->addAction(QStringLiteral("历史数据清理"), this, [this] { openModule(); });
    menu->addAction(QStringLiteral("切换皮肤"), this, [this] {
        // Two skins: the default blue and a warm one; module windows re-apply them on 1303.
        HostState& s = state();
        const bool warm = s.moduleBackColor == 0xF9F3EC;
        s.moduleBackColor = warm ? 0xE6F4FD : 0xF9F3EC;
        s.moduleToolBarColor = warm ? 0xCDE9FB : 0xF7E6D1;
        s.topBarColor = warm ? 0x3A8CE0 : 0x7FCC88;
        updateHeader();
        for (int i = 0; i < m_tabs->count(); ++i) {
            for (QWidget* w : moduleWindows(m_tabs->widget(i))) {
                HostMessageEvent skinChanged(MSG_SKIN_CHANGED);
                QCoreApplication::sendEvent(w, &skinChanged);
            }
        }
    });
    menu->addSeparator();
    menu->addAction(QStringLiteral("退出(&X)"), this, &QWidget::close);
    statusBar()->showMessage(QStringLiteral("就绪"));
    updateHeader();
}

Tfrm_MainFrame::~Tfrm_MainFrame()
{
    // Module windows go first, while this frame can still take their 1302 notices.
    for (int i = m_tabs->count() - 1; i >= 0; --i) {
        QWidget* page = m_tabs->widget(i);
        if (page != m_home)
            delete page;
    }
    if (state().mainFrame == this)
        state().mainFrame = nullptr;
    if (state().appWindow == this)
        state().appWindow = nullptr;
}

void Tfrm_MainFrame::updateHeader()
{
    const HostConfig& c = m_installation.config;
    m_headerInfo->setText(
        QStringLiteral("扣缴义务人：%1    所属期：%2    数据库：%3").arg(c.agentCode, c.period, c.dbType));
    m_header->setStyleSheet(QStringLiteral("#pnlTopBar { background: %1; } #pnlTopBar QLabel { color: white; }")
                                .arg(colourName(state().topBarColor)));
}

bool Tfrm_MainFrame::loadModule(const QString& libraryPath, QString* error)
{
    m_library.setFileName(libraryPath);
    if (!m_library.load()) {
        *error = QStringLiteral("无法加载模块 %1（%2）").arg(quotedPath(libraryPath), m_library.errorString());
        return false;
    }
    m_showSJQL = reinterpret_cast<void*>(m_library.resolve(SJQL_MODULE_ENTRY_NAME));
    if (!m_showSJQL) {
        *error = QStringLiteral("模块 %1 没有入口函数 %2")
                     .arg(quotedPath(libraryPath), QLatin1String(SJQL_MODULE_ENTRY_NAME));
        return false;
    }
    return true;
}

QWidget* Tfrm_MainFrame::openModule(bool floating)
{
    if (!m_showSJQL)
        return nullptr;
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("pnlModulePage"));
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    const int index = m_tabs->addTab(page, kModuleTitle);
    m_tabs->setCurrentIndex(index);
    state().curParentForm = page;

    const QWidgetList topsBefore = QApplication::topLevelWidgets();
    m_paramText = toGbk(QStringLiteral("ModalFormMsg=") + kModuleTitle);
    const char* params = m_paramText.constData();
    const auto showSJQL = reinterpret_cast<ShowSJQLProc>(m_showSJQL);
    showSJQL(SjqlWindowHandle(winId()), floating ? nullptr : page, &params);

    QWidget* form = nullptr;
    if (floating) {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!topsBefore.contains(w) && w->isVisible())
                form = w;
        }
    } else {
        const QList<QWidget*> windows = moduleWindows(page);
        form = windows.isEmpty() ? nullptr : windows.last();
    }
    if (floating || !form) {
        // Nothing to hold in the tab: the module floats, or it opened no window.
        m_tabs->removeTab(m_tabs->indexOf(page));
        page->deleteLater();
    }
    if (!form)
        statusBar()->showMessage(QStringLiteral("历史数据清理模块没有打开窗口"));
    return form;
}

void Tfrm_MainFrame::closeAllModules()
{
    for (int i = m_tabs->count() - 1; i >= 0; --i) {
        QWidget* page = m_tabs->widget(i);
        if (page == m_home)
            continue;
        for (QWidget* w : moduleWindows(page)) {
            HostMessageEvent closeRequest(MSG_CLOSE_MODULE);
            QCoreApplication::sendEvent(w, &closeRequest);
        }
        m_tabs->removeTab(i);
        delete page;
    }
}

bool Tfrm_MainFrame::event(QEvent* e)
{
    if (HostMessageEvent::isHostMessage(e)) {
        const auto* message = static_cast<const HostMessageEvent*>(e);
        if (message->number() != MSG_NC_ACTIVATE)
            handleNotice(message->number(), message->isCopyData() ? message->text() : QByteArray());
        return true;
    }
    return QMainWindow::event(e);
}

void Tfrm_MainFrame::handleNotice(int number, const QByteArray& gbkText)
{
    const QString text = fromGbk(QByteArrayView(gbkText));
    const QString line = text.isEmpty() ? QString::number(number) : QString::number(number) + QLatin1Char(' ') + text;
    m_notices << line;
    if (onNotice)
        onNotice(line);

    switch (number) {
    case MSG_MODULE_SHOWN: {
        // "<ModalFormMsg>|<window handle>|0|1": the tab holding that window takes the title. The
        // handle means nothing to a user: the status bar names the module and where it opened.
        const QStringList fields = text.split(QLatin1Char('|'));
        const QString title = fields.value(0).isEmpty() ? kModuleTitle : fields.value(0);
        QWidget* window = fields.size() > 1 ? QWidget::find(WId(fields.at(1).toULongLong())) : nullptr;
        bool inTab = false;
        for (int i = 0; window && i < m_tabs->count(); ++i) {
            if (m_tabs->widget(i)->isAncestorOf(window)) {
                m_tabs->setTabText(i, title);
                inTab = true;
            }
        }
        statusBar()->showMessage(inTab ? QStringLiteral("已打开“%1”").arg(title)
                                       : QStringLiteral("已打开“%1”（独立窗口）").arg(title));
        break;
    }
    case MSG_MODULE_CLOSED:
        // The text is the module's function code.
        statusBar()->showMessage(text.isEmpty() || text == state().curFuncCode
                                     ? QStringLiteral("已关闭“%1”").arg(kModuleTitle)
                                     : QStringLiteral("已关闭功能 %1 的窗口").arg(text));
        QTimer::singleShot(0, this, [this] { sweepClosedModules(); });
        break;
    case MSG_PAGE_STATE:
        if (text == QLatin1String("max"))
            setPageMaximised(true);
        else if (text == QLatin1String("reset"))
            setPageMaximised(false);
        break;
    case MSG_HELP_REQUEST:
        statusBar()->showMessage(QStringLiteral("帮助：勾选要清理的年度后按“清理数据”，数据先打包备份到“备份路径”，"
                                                "再从数据库中清理；按“数据恢复”可以从备份文件找回。"));
        break;
    default:
        break;
    }
}

QString Tfrm_MainFrame::statusText() const
{
    const auto* bar = findChild<QStatusBar*>(QString(), Qt::FindDirectChildrenOnly);
    return bar ? bar->currentMessage() : QString();
}

void Tfrm_MainFrame::sweepClosedModules()
{
    for (int i = m_tabs->count() - 1; i >= 0; --i) {
        QWidget* page = m_tabs->widget(i);
        if (page != m_home && moduleWindows(page).isEmpty()) {
            m_tabs->removeTab(i);
            page->deleteLater();
        }
    }
    if (m_pageMaximised && m_tabs->count() <= 1)
        setPageMaximised(false);
}

void Tfrm_MainFrame::setPageMaximised(bool maximised)
{
    m_pageMaximised = maximised;
    m_header->setVisible(!maximised);
    m_tabs->tabBar()->setVisible(!maximised);
    menuBar()->setVisible(!maximised);
    statusBar()->showMessage(maximised ? QStringLiteral("页面已最大化") : QStringLiteral("页面已还原"));
}
