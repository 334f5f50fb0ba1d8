// SPDX-License-Identifier: MIT
// The module entry through the real library: libsjql.so is loaded with QLibrary and ShowSJQL is called the way
// the host calls it; the host side is the services library and a main frame that records notices.
#include "helpers/ValueObject.h"
#include "host/data/HostDatabase.h"
#include "host/services/HostServicesAdmin.h"
#include "hostapi/Gbk.h"
#include "hostapi/HostMessages.h"
#include "hostapi/SjqlEntry.h"

#include <QApplication>
#include <QFile>
#include <QLibrary>
#include <QPointer>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstring>
#include <elf.h>
#include <memory>

using namespace sjql;
using namespace sjql::host;
using namespace sjql::test;

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
        state().valueObject = {
            voText(QStringLiteral("QVR_KJYWRBM"), QStringLiteral("91110100MA0001")),
            voText(QStringLiteral("QVR_SDFY"), QStringLiteral("202406")),
            voObject(QStringLiteral("QVR_DKDJADOConnection"), connection.get()),
            voText(QStringLiteral("QVR_DKDJDBType"), QStringLiteral("SQLITE")),
            voText(QStringLiteral("QVR_DKDJAPPCODE"), QStringLiteral("03")),
            voFlag(QStringLiteral("QVR_DKDJENABLE"), enabled),
            voText(QStringLiteral("QVR_DKDJINITERROR"), reason),
        };
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

// Every symbol a shared library defines in its dynamic symbol table, that is everything a loader can
// find in it, read from the ELF file itself (a 64-bit file of this machine's byte order). Empty with
// *error set when the file is not such a library.
QStringList definedDynamicSymbols(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return {};
    }
    const QByteArray bytes = file.readAll();
    const auto within = [&](quint64 offset, quint64 size) {
        return offset <= quint64(bytes.size()) && size <= quint64(bytes.size()) - offset;
    };
    Elf64_Ehdr header;
    if (!within(0, sizeof header) || std::memcmp(bytes.constData(), ELFMAG, SELFMAG) != 0 ||
        bytes[EI_CLASS] != ELFCLASS64) {
        *error = QStringLiteral("not a 64-bit ELF file");
        return {};
    }
    std::memcpy(&header, bytes.constData(), sizeof header);
    const auto section = [&](quint64 index) {
        Elf64_Shdr s{};
        const quint64 at = header.e_shoff + index * header.e_shentsize;
        if (index < header.e_shnum && header.e_shentsize >= sizeof s && within(at, sizeof s))
            std::memcpy(&s, bytes.constData() + at, sizeof s);
        return s;
    };
    for (quint64 i = 0; i < header.e_shnum; ++i) {
        const Elf64_Shdr symbols = section(i);
        if (symbols.sh_type != SHT_DYNSYM)
            continue;
        const Elf64_Shdr names = section(symbols.sh_link);
        if (symbols.sh_entsize < sizeof(Elf64_Sym) || !within(symbols.sh_offset, symbols.sh_size) ||
            !within(names.sh_offset, names.sh_size)) {
            *error = QStringLiteral("damaged dynamic symbol table");
            return {};
        }
        QStringList defined;
        for (quint64 at = 0; at + sizeof(Elf64_Sym) <= symbols.sh_size; at += symbols.sh_entsize) {
            Elf64_Sym sym;
            std::memcpy(&sym, bytes.constData() + symbols.sh_offset + at, sizeof sym);
            if (sym.st_shndx == SHN_UNDEF || sym.st_name == 0 || sym.st_name >= names.sh_size)
                continue;
            const char* name = bytes.constData() + names.sh_offset + sym.st_name;
            defined << QString::fromLatin1(name, qstrnlen(name, names.sh_size - sym.st_name));
        }
        defined.sort();
        return defined;
    }
    *error = QStringLiteral("no dynamic symbol table");
    return {};
}

// The library defines exactly two dynamic symbols, its entries (the window's and the scripted
// tools'): no helper of the module can be reached, or clash with one of the host, from outside. The
// toolchain adds nothing here (no _init, _fini or version symbols are defined in the dynamic table).
TEST_F(ModuleEntryTest, TheLibraryExportsOnlyItsEntries)
{
    QString error;
    const QStringList exported =
        definedDynamicSymbols(QStringLiteral(SJQL_BINARY_DIR "/bin/" SJQL_MODULE_LIBRARY_NAME), &error);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_EQ(exported.join(QLatin1Char(' ')).toStdString(), SJQL_MODULE_ENTRY_NAME " " SJQL_TOOL_ENTRY_NAME);
    // Another library of the build, to show that the reader does see more than one symbol.
    const QStringList services = definedDynamicSymbols(QStringLiteral(SJQL_BINARY_DIR "/bin/libModuleLib.so"), &error);
    EXPECT_TRUE(services.contains(QStringLiteral("SetSkinSchemeCtrls"))) << services.size();
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
    state().valueObject = {voFlag(QStringLiteral("qvr_dkdjenable"), true)};
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
