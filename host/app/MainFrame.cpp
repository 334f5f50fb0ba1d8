// SPDX-License-Identifier: MIT
#include "MainFrame.h"

#include "Commands.h"
#include "Installation.h"
#include "host/services/HostServicesAdmin.h"
#include "hostapi/Gbk.h"
#include "hostapi/HostMessages.h"
#include "hostapi/SjqlEntry.h"

#include <QActionGroup>
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

using namespace sjql;
using namespace sjql::host;

namespace {

const QString kModuleTitle = QStringLiteral("历史数据清理");

// How long a notice stays in the status bar: long enough to be read, gone before it misleads.
constexpr int kNoticeMs = 5000;
constexpr int kHelpMs = 20000;

// The skins the host offers; the module windows take theirs on 1303.
struct SkinChoice
{
    const char* name; // menu text (UTF-8), with its mnemonic
    quint32 moduleBack;
    quint32 moduleToolBar;
    quint32 topBar;
};
constexpr SkinChoice kSkins[] = {
    {"默认蓝色(&B)", 0xF9F3EC, 0xF7E6D1, 0x7FCC88},
    {"暖色橙色(&O)", 0xE6F4FD, 0xCDE9FB, 0x3A8CE0},
};

// The skin's name as the status bar says it: the menu text without its mnemonic.
QString skinName(const SkinChoice& skin)
{
    QString name = QString::fromUtf8(skin.name);
    return name.left(name.indexOf(QLatin1Char('(')));
}

// A module tab holds a scroll area whose page is the container the module opens in: a frame
// smaller than the module's window scrolls it instead of cutting its controls off.
QWidget* pageOf(QWidget* tab)
{
    auto* scroller = qobject_cast<QScrollArea*>(tab);
    return scroller ? scroller->widget() : nullptr;
}

// The direct child windows of a module page (the module's window, once it is open).
QList<QWidget*> moduleWindows(QWidget* tab)
{
    QWidget* page = pageOf(tab);
    return page ? page->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly) : QList<QWidget*>();
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
    // Small enough for any screen; module pages below their own size scroll.
    setMinimumSize(480, 360);

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
    // In a narrow frame the agent, period and database wrap onto more lines instead of running into
    // the product name.
    m_headerInfo->setTextFormat(Qt::PlainText);
    m_headerInfo->setWordWrap(true);
    m_headerInfo->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_headerInfo->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    title->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    headerLayout->addWidget(title);
    headerLayout->addSpacing(16);
    headerLayout->addWidget(m_headerInfo, 1);
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
        QWidget* tab = m_tabs->widget(index);
        if (!tab || tab == m_home)
            return;
        // The host asks the module window to close (1280); the page goes once it has.
        for (QWidget* w : moduleWindows(tab)) {
            HostMessageEvent closeRequest(MSG_CLOSE_MODULE);
            QCoreApplication::sendEvent(w, &closeRequest);
        }
        QTimer::singleShot(0, this, [this] { sweepClosedModules(); });
    });
    layout->addWidget(m_tabs, 1);
    setCentralWidget(central);

    QMenu* menu = menuBar()->addMenu(QStringLiteral("系统(&S)"));
    menu->addAction(QStringLiteral("历史数据清理"), this, [this] { openModule(); });
    // The skins by name, the current one ticked.
    QMenu* skins = menu->addMenu(QStringLiteral("皮肤(&K)"));
    auto* skinGroup = new QActionGroup(skins);
    for (const SkinChoice& skin : kSkins) {
        QAction* action = skins->addAction(QString::fromUtf8(skin.name));
        action->setCheckable(true);
        action->setChecked(&skin == &kSkins[0]);
        skinGroup->addAction(action);
        connect(action, &QAction::triggered, this,
                [this, &skin] { applySkinChoice(skin.moduleBack, skin.moduleToolBar, skin.topBar, skinName(skin)); });
    }
    menu->addSeparator();
    menu->addAction(QStringLiteral("退出(&X)"), this, &QWidget::close);
    // Shown whenever no notice is: notices are temporary and leave this behind.
    auto* ready = new QLabel(QStringLiteral("就绪"), statusBar());
    ready->setObjectName(QStringLiteral("lblReady"));
    statusBar()->addWidget(ready, 1);
    updateHeader();
}

void Tfrm_MainFrame::applySkinChoice(quint32 moduleBack, quint32 moduleToolBar, quint32 topBar, const QString& name)
{
    HostState& s = state();
    s.moduleBackColor = moduleBack;
    s.moduleToolBarColor = moduleToolBar;
    s.topBarColor = topBar;
    updateHeader();
    for (int i = 0; i < m_tabs->count(); ++i) {
        for (QWidget* w : moduleWindows(m_tabs->widget(i))) {
            HostMessageEvent skinChanged(MSG_SKIN_CHANGED);
            QCoreApplication::sendEvent(w, &skinChanged);
        }
    }
    statusBar()->showMessage(QStringLiteral("皮肤：%1").arg(name), kNoticeMs);
}

Tfrm_MainFrame::~Tfrm_MainFrame()
{
    // Module windows go first, while this frame can still take their 1302 notices.
    for (int i = m_tabs->count() - 1; i >= 0; --i) {
        QWidget* tab = m_tabs->widget(i);
        if (tab != m_home)
            delete tab;
    }
    if (state().mainFrame == this)
        state().mainFrame = nullptr;
    if (state().appWindow == this)
        state().appWindow = nullptr;
}

void Tfrm_MainFrame::updateHeader()
{
    const HostConfig& c = m_installation.config;
    // Each item stays whole on its line (word joiners between its characters: Chinese text may
    // otherwise break anywhere); a narrow frame breaks only at the blanks between the items.
    const auto item = [](const QString& name, const QString& value) {
        const QString text = name + QStringLiteral("：") + value;
        QString joined;
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (i > 0 && !text.at(i).isLowSurrogate())
                joined += QChar(0x2060);
            joined += text.at(i);
        }
        return joined;
    };
    m_headerInfo->setText(item(QStringLiteral("扣缴义务人"), c.agentCode) + QStringLiteral("    ") +
                          item(QStringLiteral("所属期"), c.period) + QStringLiteral("    ") +
                          item(QStringLiteral("数据库"), c.dbType));
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
    auto* scroller = new QScrollArea;
    scroller->setObjectName(QStringLiteral("scbModulePage"));
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setWidgetResizable(true);
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("pnlModulePage"));
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    scroller->setWidget(page);
    const int index = m_tabs->addTab(scroller, kModuleTitle);
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
        const QList<QWidget*> windows = moduleWindows(scroller);
        form = windows.isEmpty() ? nullptr : windows.last();
    }
    if (floating || !form) {
        // Nothing to hold in the tab: the module floats, or it opened no window.
        m_tabs->removeTab(m_tabs->indexOf(scroller));
        scroller->deleteLater();
    }
    if (!form)
        statusBar()->showMessage(QStringLiteral("历史数据清理模块没有打开窗口"), kNoticeMs);
    return form;
}

void Tfrm_MainFrame::closeAllModules()
{
    for (int i = m_tabs->count() - 1; i >= 0; --i) {
        QWidget* tab = m_tabs->widget(i);
        if (tab == m_home)
            continue;
        for (QWidget* w : moduleWindows(tab)) {
            HostMessageEvent closeRequest(MSG_CLOSE_MODULE);
            QCoreApplication::sendEvent(w, &closeRequest);
        }
        m_tabs->removeTab(i);
        delete tab;
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
                                       : QStringLiteral("已打开“%1”（独立窗口）").arg(title),
                                 kNoticeMs);
        break;
    }
    case MSG_MODULE_CLOSED:
        // The text is the module's function code.
        statusBar()->showMessage(text.isEmpty() || text == state().curFuncCode
                                     ? QStringLiteral("已关闭“%1”").arg(kModuleTitle)
                                     : QStringLiteral("已关闭功能 %1 的窗口").arg(text),
                                 kNoticeMs);
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
                                                "再从数据库中清理；按“数据恢复”可以从备份文件找回。"),
                                 kHelpMs);
        break;
    default:
        break;
    }
}

QString Tfrm_MainFrame::statusText() const
{
    const auto* bar = findChild<QStatusBar*>(QString(), Qt::FindDirectChildrenOnly);
    if (!bar)
        return QString();
    // Without a notice the bar shows its resting text.
    if (bar->currentMessage().isEmpty()) {
        if (const auto* ready = bar->findChild<QLabel*>(QStringLiteral("lblReady")))
            return ready->text();
    }
    return bar->currentMessage();
}

void Tfrm_MainFrame::sweepClosedModules()
{
    for (int i = m_tabs->count() - 1; i >= 0; --i) {
        QWidget* tab = m_tabs->widget(i);
        if (tab != m_home && moduleWindows(tab).isEmpty()) {
            m_tabs->removeTab(i);
            tab->deleteLater();
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
    statusBar()->showMessage(maximised ? QStringLiteral("页面已最大化") : QStringLiteral("页面已还原"), kNoticeMs);
}
