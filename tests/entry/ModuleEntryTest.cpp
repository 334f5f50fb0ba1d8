// SPDX-License-Identifier: MIT
// The module entry through the real library: libsjql.so is loaded with QLibrary and ShowSJQL is called the way
// the host calls it; the host side is the services library and a main frame that records notices.
#include "host/data/HostDatabase.h"
#include "host/services/HostServicesAdmin.h"
#include "hostapi/Gbk.h"
#include "hostapi/HostMessages.h"
#include "hostapi/SjqlEntry.h"

#include <QApplication>
#include <QLibrary>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace sjql;
using namespace sjql::host;

// A stand-in for the host's main frame: found by its class name or through GetMainFrameHandle.
class Tfrm_MainFrame : public QWidget
{
    Q_OBJECT
public:
    struct Notice
    {
        int number;
        bool copyData;
        QByteArray text;
        intptr_t wParam;
    };
    std::vector<Notice> notices;

protected:
    bool event(QEvent* e) override
    {
        if (HostMessageEvent::isHostMessage(e)) {
            const auto* m = static_cast<const HostMessageEvent*>(e);
            notices.push_back({m->number(), m->isCopyData(), m->text(), m->wParam()});
            return true;
        }
        return QWidget::event(e);
    }
};

namespace {

QWidgetList moduleWindows()
{
    QWidgetList found;
    for (QWidget* w : QApplication::allWidgets()) {
        if (std::strcmp(w->metaObject()->className(), "TfrmsjqlMgr") == 0)
            found << w;
    }
    return found;
}

class ModuleEntryTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        library = new QLibrary(QStringLiteral(SJQL_BINARY_DIR "/bin/" SJQL_MODULE_LIBRARY_NAME));
        ASSERT_TRUE(library->load()) << library->errorString().toStdString();
        showSJQL = reinterpret_cast<ShowSJQLProc>(library->resolve(SJQL_MODULE_ENTRY_NAME));
    }

    void SetUp() override
    {
        ASSERT_NE(showSJQL, nullptr);
        ASSERT_TRUE(home.isValid());
        // The window lists the years of an empty history on a host database of its own.
        DatabaseLocation where;
        where.sqliteFile = home.filePath(QStringLiteral("Apps/03/Data/Data.db"));
        QString error;
        connection = openHostConnection(where, &error);
        ASSERT_TRUE(connection) << error.toStdString();
        ASSERT_TRUE(createSchema(*connection, QStringLiteral("SQLITE"), &error)) << error.toStdString();
        resetState();
        state().homeDir = home.path();
        state().curFuncCode = QStringLiteral("160101");
        setEnabled(true, QStringLiteral("请升级到最新版本"));
        setBoxScript([](const ShownBox&) { return true; });
        clearShownBoxes();
        frame = new Tfrm_MainFrame;
        frame->resize(900, 700);
        frame->show();
        state().mainFrame = frame;
        state().appWindow = frame;
        container = new QWidget(frame);
        container->setGeometry(10, 40, 700, 560);
        container->show();
    }

    void TearDown() override
    {
        for (QWidget* w : moduleWindows())
            delete w;
        delete frame;
        setBoxScript(nullptr);
        clearShownBoxes();
        resetState();
        connection.reset();
    }

    void setEnabled(bool enabled, const QString& reason)
    {
        VoEntry enable;
        enable.name = QStringLiteral("QVR_DKDJENABLE");
        enable.kind = VoEntry::Bool;
        enable.flag = enabled;
        VoEntry error;
        error.name = QStringLiteral("QVR_DKDJINITERROR");
        error.text = reason;
        VoEntry app;
        app.name = QStringLiteral("QVR_DKDJAPPCODE");
        app.text = QStringLiteral("03");
        VoEntry cell;
        cell.name = QStringLiteral("QVR_DKDJADOConnection");
        cell.kind = VoEntry::Object;
        cell.object = connection.get();
        VoEntry type;
        type.name = QStringLiteral("QVR_DKDJDBType");
        type.text = QStringLiteral("SQLITE");
        VoEntry agent;
        agent.name = QStringLiteral("QVR_KJYWRBM");
        agent.text = QStringLiteral("91110100MA0001");
        VoEntry period;
        period.name = QStringLiteral("QVR_SDFY");
        period.text = QStringLiteral("202406");
        state().valueObject = {agent, period, cell, type, app, enable, error};
    }

    // Calls the entry as the host does: the address of a variable holding the GBK text's address.
    void show(QWidget* parent, const QString& params, SjqlWindowHandle appWindow = 4711)
    {
        const QByteArray bytes = toGbk(params);
        const char* text = bytes.constData();
        showSJQL(appWindow, parent, &text);
    }

    std::vector<Tfrm_MainFrame::Notice> noticesOf(int number) const
    {
        std::vector<Tfrm_MainFrame::Notice> out;
        for (const auto& n : frame->notices) {
            if (n.number == number)
                out.push_back(n);
        }
        return out;
    }

    static inline QLibrary* library = nullptr;
    static inline ShowSJQLProc showSJQL = nullptr;
    QTemporaryDir home;
    std::unique_ptr<HostConnection> connection;
    Tfrm_MainFrame* frame = nullptr;
    QWidget* container = nullptr;
};

TEST_F(ModuleEntryTest, TheLibraryExportsOnlyItsEntries)
{
    EXPECT_EQ(library->resolve("_ZN4sjql13GetParamValueERK7QStringS2_"), nullptr);
    EXPECT_EQ(library->resolve("_ZN4sjql15IsModuleEnabledEv"), nullptr);
    EXPECT_NE(library->resolve(SJQL_TOOL_ENTRY_NAME), nullptr);
    // The dynamic symbol table defines exactly the window's entry and the scripted tools' entry.
    QProcess nm;
    nm.start(QStringLiteral("nm"), {QStringLiteral("-D"), QStringLiteral("--defined-only"), library->fileName()});
    ASSERT_TRUE(nm.waitForFinished(30000) && nm.exitCode() == 0) << nm.readAllStandardError().toStdString();
    QStringList names;
    for (const QByteArray& line : nm.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        // "<address> T ShowSJQL"; version nodes of the script (type A) are no symbols of ours.
        if (fields.size() == 3 && fields[1] != "A")
            names << QString::fromLatin1(fields[2]);
    }
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral(SJQL_MODULE_ENTRY_NAME), QStringLiteral(SJQL_TOOL_ENTRY_NAME)}));
}

// The scripted tools' entry answers a request it does not know, or one that is no JSON, with exit 2
// and a message, never with a crash.
TEST_F(ModuleEntryTest, TheToolEntryRefusesUnknownRequests)
{
    auto run = reinterpret_cast<SjqlRunToolProc>(library->resolve(SJQL_TOOL_ENTRY_NAME));
    ASSERT_NE(run, nullptr);
    QStringList notes;
    const SjqlToolOutput collect = [](void* context, int channel, const char* text) {
        if (channel == SJQL_TOOL_NOTE)
            static_cast<QStringList*>(context)->append(QString::fromUtf8(text));
    };
    EXPECT_EQ(run("{\"command\":\"nothing-such\"}", collect, &notes), 2);
    EXPECT_EQ(run("not json", collect, &notes), 2);
    EXPECT_EQ(run(nullptr, collect, &notes), 2);
    EXPECT_EQ(run("{\"command\":\"verify\",\"archives\":[]}", collect, &notes), 2);
    EXPECT_EQ(notes.size(), 4);
}

TEST_F(ModuleEntryTest, EmbeddedWindowFillsTheContainerAndAnnouncesItself)
{
    show(container, QStringLiteral("x=1;ModalFormMsg=a&eq%b&lim%c"), 4711);
    const QWidgetList windows = moduleWindows();
    ASSERT_EQ(windows.size(), 1);
    QWidget* form = windows.first();
    EXPECT_EQ(form->parentWidget(), container);
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isWindow());
    EXPECT_EQ(form->geometry(), container->contentsRect());
    container->resize(800, 600);
    EXPECT_EQ(form->size(), QSize(800, 600)); // it follows the container

    const auto shown = noticesOf(MSG_MODULE_SHOWN);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].copyData);
    const QByteArray expected = "a=b;c|" + QByteArray::number(quint64(form->winId())) + "|0|1";
    EXPECT_EQ(shown[0].text, expected);
    EXPECT_EQ(shown[0].wParam, 4711); // the sender: the host's application window
    EXPECT_EQ(QWidget::find(WId(shown[0].text.split('|').at(1).toULongLong())), form);
    EXPECT_TRUE(shownBoxes().empty());
}

TEST_F(ModuleEntryTest, TheNoticeTextIsGbk)
{
    show(container, QStringLiteral("ModalFormMsg=历史数据清理"));
    const auto shown = noticesOf(MSG_MODULE_SHOWN);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].text.startsWith(toGbk(QStringLiteral("历史数据清理|"))));
}

TEST_F(ModuleEntryTest, NoModalFormMsgMeansNoNotice)
{
    show(container, QStringLiteral("other=1"));
    show(container, QStringLiteral("modalformmsg=x"));
    show(container, QStringLiteral("ModalFormMsg="));
    showSJQL(1, container, nullptr);
    EXPECT_EQ(moduleWindows().size(), 4);
    EXPECT_TRUE(noticesOf(MSG_MODULE_SHOWN).empty());
}

TEST_F(ModuleEntryTest, AnEmptyValueDoesNotEndTheSearch)
{
    show(container, QStringLiteral("ModalFormMsg=;ModalFormMsg=y"));
    const auto shown = noticesOf(MSG_MODULE_SHOWN);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].text.startsWith("y|"));
}

TEST_F(ModuleEntryTest, TheMainFrameIsFoundByClassNameWithoutAHandle)
{
    state().mainFrame = nullptr;
    show(container, QStringLiteral("ModalFormMsg=m"));
    EXPECT_EQ(noticesOf(MSG_MODULE_SHOWN).size(), 1u);
}

TEST_F(ModuleEntryTest, WithoutAMainFrameTheWindowStillOpens)
{
    state().mainFrame = nullptr;
    state().appWindow = nullptr;
    delete frame; // no Tfrm_MainFrame left: the notices are silently not sent
    frame = nullptr;
    QWidget host;
    auto* page = new QWidget(&host);
    show(page, QStringLiteral("ModalFormMsg=m"));
    EXPECT_EQ(moduleWindows().size(), 1);
    delete page; // destruction without a main frame is quiet too
    EXPECT_TRUE(moduleWindows().isEmpty());
}

TEST_F(ModuleEntryTest, NotEnabledShowsTheHostTextAndNoWindow)
{
    setEnabled(false, QStringLiteral("请升级到最新版本"));
    show(container, QStringLiteral("ModalFormMsg=m"));
    ASSERT_EQ(shownBoxes().size(), 1u);
    EXPECT_EQ(shownBoxes()[0].kind, ShownBox::Info);
    EXPECT_EQ(shownBoxes()[0].text, QStringLiteral("请升级到最新版本"));
    EXPECT_TRUE(moduleWindows().isEmpty());
    EXPECT_TRUE(container->findChildren<QWidget*>().isEmpty());
    EXPECT_TRUE(frame->notices.empty());
}

TEST_F(ModuleEntryTest, MissingEnableAndTextShowAnEmptyBox)
{
    state().valueObject.clear();
    show(container, QStringLiteral("ModalFormMsg=m"));
    ASSERT_EQ(shownBoxes().size(), 1u);
    EXPECT_EQ(shownBoxes()[0].text, QString());
    EXPECT_TRUE(moduleWindows().isEmpty());
}

TEST_F(ModuleEntryTest, TheEnableEntryMatchesWithoutRegardToCase)
{
    state().valueObject.clear();
    VoEntry enable;
    enable.name = QStringLiteral("qvr_dkdjenable");
    enable.kind = VoEntry::Bool;
    enable.flag = true;
    state().valueObject.push_back(enable);
    show(container, QStringLiteral("ModalFormMsg=m"));
    EXPECT_EQ(moduleWindows().size(), 1);
}

TEST_F(ModuleEntryTest, WithoutAContainerTheWindowFloatsOnTopCentredAndSendsNoNotice)
{
    frame->setGeometry(100, 100, 900, 700);
    show(nullptr, QStringLiteral("ModalFormMsg=m"));
    const QWidgetList windows = moduleWindows();
    ASSERT_EQ(windows.size(), 1);
    QWidget* form = windows.first();
    EXPECT_TRUE(form->isWindow());
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_LE((form->frameGeometry().center() - frame->frameGeometry().center()).manhattanLength(), 10);
    EXPECT_TRUE(noticesOf(MSG_MODULE_SHOWN).empty());
}

TEST_F(ModuleEntryTest, EachCallOpensANewWindow)
{
    show(container, QStringLiteral("ModalFormMsg=m"));
    show(container, QStringLiteral("ModalFormMsg=m"));
    EXPECT_EQ(moduleWindows().size(), 2);
    EXPECT_EQ(noticesOf(MSG_MODULE_SHOWN).size(), 2u);
}

TEST_F(ModuleEntryTest, DestructionSendsTheFunctionCodeCapturedAtCreation)
{
    show(container, QStringLiteral("ModalFormMsg=m"));
    ASSERT_EQ(moduleWindows().size(), 1);
    state().curFuncCode = QStringLiteral("999999"); // changed after creation: not what is sent
    delete moduleWindows().first();
    const auto closed = noticesOf(MSG_MODULE_CLOSED);
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_TRUE(closed[0].copyData);
    EXPECT_EQ(closed[0].text, QByteArray("160101"));
}

TEST_F(ModuleEntryTest, TheCloseMessageClosesAndFreesTheWindow)
{
    show(container, QStringLiteral("ModalFormMsg=m"));
    QPointer<QWidget> form = moduleWindows().value(0);
    ASSERT_TRUE(form);
    HostMessageEvent closeRequest(MSG_CLOSE_MODULE);
    QCoreApplication::sendEvent(form, &closeRequest);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(form.isNull());
    EXPECT_EQ(noticesOf(MSG_MODULE_CLOSED).size(), 1u);
}

} // namespace

#include "ModuleEntryTest.moc"
