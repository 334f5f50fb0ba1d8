// SPDX-License-Identifier: MIT
// The exported services of hostapi/ModuleLib.h over the host state of HostServicesAdmin.h.
//
// Every returned text lives in a thread_local buffer of its own function, so it stays valid until
// the same function is called again on the same thread, as the header promises.
#include "hostapi/ModuleLib.h"

#include "HostServicesAdmin.h"
#include "IniStore.h"
#include "hostapi/Gbk.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QWidget>

#include <cstring>

namespace sjql::host {
bool scriptedBox(const ShownBox& box, bool* answer); // HostState.cpp
void applySkin(QWidget* window);                     // Skin.cpp
} // namespace sjql::host

namespace {

using namespace sjql;
using namespace sjql::host;

// Stores `text` as GBK in the caller's buffer and returns it (never null).
const char* keep(QByteArray& buffer, const QString& text)
{
    buffer = toGbk(text);
    return buffer.constData();
}

const char* keepBytes(QByteArray& buffer, QByteArray bytes)
{
    buffer = std::move(bytes);
    return buffer.constData();
}

QByteArray bytesOf(const char* text)
{
    return text ? QByteArray(text) : QByteArray();
}

QString textOf(const char* text)
{
    return fromGbk(text);
}

SjqlWindowHandle handleOf(QWidget* w)
{
    return w ? SjqlWindowHandle(w->winId()) : 0;
}

QString appFolder()
{
    QString path = state().appPath;
    if (path.isEmpty())
        path = QCoreApplication::applicationDirPath();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

// The placeholder records behind the opaque host objects when the host set none.
struct HostObjectRecord
{
    const char* kind;
};
HostObjectRecord gSubAppInfo{"SubAppInfo"};
HostObjectRecord gUserInfo{"UserInfoVO"};
HostObjectRecord gCompanyInfo{"CompanyInfoVO"};

// The value object handed out by GetCurSubAppVo. Two generations are kept, so a caller that asks
// again while it still reads the previous answer does not read freed memory.
struct VoStorage
{
    std::vector<VoEntry> source; // the host entries this generation was made from
    std::vector<SjqlVoEntry> entries;
    std::vector<QByteArray> texts;
    SjqlValueObject vo{0, nullptr};
};

bool sameEntries(const std::vector<VoEntry>& a, const std::vector<VoEntry>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const VoEntry& x = a[i];
        const VoEntry& y = b[i];
        if (x.kind != y.kind || x.flag != y.flag || x.object != y.object || x.name != y.name || x.text != y.text)
            return false;
    }
    return true;
}

QWidget* boxParent()
{
    if (QWidget* w = QApplication::activeModalWidget())
        return w;
    if (state().mainFrame)
        return state().mainFrame;
    return QApplication::activeWindow();
}

const QString kBoxTitle = QStringLiteral("系统提示");

} // namespace

extern "C" {

SjqlWindowHandle GetAppHandle(void)
{
    return handleOf(state().appWindow);
}

SjqlWindowHandle GetMainFrameHandle(void)
{
    return handleOf(state().mainFrame);
}

const char* GetAppPath(void)
{
    thread_local QByteArray buffer;
    return keep(buffer, appFolder());
}

const char* GetCurSubAppPath(void)
{
    thread_local QByteArray buffer;
    return keep(buffer, subAppPath(state().curSubAppCode));
}

const char* GetCurSubAppCode(void)
{
    thread_local QByteArray buffer;
    return keep(buffer, state().curSubAppCode);
}

const char* GetCurFuncCode(void)
{
    thread_local QByteArray buffer;
    return keep(buffer, state().curFuncCode);
}

void* GetCurSubAppInfo(void)
{
    return state().curSubAppInfo ? state().curSubAppInfo : &gSubAppInfo;
}

void* GetUserInfoVO(void)
{
    return state().userInfo ? state().userInfo : &gUserInfo;
}

void* GetCompanyInfoVO(void)
{
    return state().companyInfo ? state().companyInfo : &gCompanyInfo;
}

void* GetCurParentForm(void)
{
    return state().curParentForm;
}

void* GetgsMainFrameParentForm(void)
{
    return state().gsMainFrameParentForm ? state().gsMainFrameParentForm : state().mainFrame;
}

const SjqlValueObject* GetCurSubAppVo(void)
{
    thread_local VoStorage storage[2];
    thread_local int current = 0;
    thread_local bool made = false;
    const std::vector<VoEntry>& source = state().valueObject;
    // The module asks on every statement it runs; while the host entries are unchanged the same
    // answer is handed out again instead of converting every entry to GBK once more.
    if (made && sameEntries(storage[current].source, source))
        return &storage[current].vo;
    made = true;
    current = 1 - current;
    VoStorage& s = storage[current];
    s.source = source;
    s.texts.clear();
    s.texts.reserve(source.size());
    s.entries.assign(source.size(), SjqlVoEntry{});
    for (size_t i = 0; i < source.size(); ++i) {
        const VoEntry& from = source[i];
        SjqlVoEntry& to = s.entries[i];
        const QByteArray name = truncateGbk(toGbk(from.name), 255);
        std::memcpy(to.name, name.constData(), size_t(name.size()));
        to.name[name.size()] = '\0';
        switch (from.kind) {
        case VoEntry::Text:
            to.kind = SJQL_VO_TEXT;
            break;
        case VoEntry::Bool:
            to.kind = SJQL_VO_BOOL;
            break;
        case VoEntry::Object:
            to.kind = SJQL_VO_OBJECT;
            break;
        }
        s.texts.push_back(toGbk(from.text));
        to.text = s.texts.back().constData();
        to.flag = from.flag ? 1 : 0;
        to.object = from.object;
    }
    s.vo.count = int32_t(s.entries.size());
    s.vo.entries = s.entries.data();
    return &s.vo;
}

const char* GetSubAppPath(const char* code)
{
    thread_local QByteArray buffer;
    return keep(buffer, subAppPath(textOf(code)));
}

const char* GetSubAppUserConfigFile(const char* code)
{
    thread_local QByteArray buffer;
    return keep(buffer, subAppUserConfigFile(textOf(code)));
}

const char* GetSubAppUserConfigParam(const char* code, const char* section, const char* key, const char* defaultValue)
{
    thread_local QByteArray buffer;
    const QString file = subAppUserConfigFile(textOf(code));
    if (file.isEmpty())
        return keepBytes(buffer, bytesOf(defaultValue));
    return keepBytes(buffer, ini::read(file, bytesOf(section), bytesOf(key), bytesOf(defaultValue)));
}

const char* GetUserConfigParam(const char* section, const char* key, const char* defaultValue)
{
    thread_local QByteArray buffer;
    const QString file = userConfigFile();
    if (file.isEmpty())
        return keepBytes(buffer, bytesOf(defaultValue));
    return keepBytes(buffer, ini::read(file, bytesOf(section), bytesOf(key), bytesOf(defaultValue)));
}

void WriteIniValueString(const char* file, const char* section, const char* key, const char* value)
{
    const QString path = textOf(file);
    if (path.isEmpty())
        return;
    ini::write(path, bytesOf(section), bytesOf(key), bytesOf(value));
}

void WriteIniValueInt(const char* file, const char* section, const char* key, int value)
{
    const QByteArray text = QByteArray::number(value);
    WriteIniValueString(file, section, key, text.constData());
}

int IniFileIsExist(const char* file)
{
    const QString path = textOf(file);
    return (!path.isEmpty() && QFileInfo(path).isFile()) ? 1 : 0;
}

const char* GetMsg(int number, const char* params, int flag)
{
    Q_UNUSED(flag);
    thread_local QByteArray buffer;
    return keep(buffer, catalogueText(number, bytesOf(params)));
}

void InforMsg(int number, const char* params, int flag)
{
    Q_UNUSED(flag);
    const QByteArray text = toGbk(catalogueText(number, bytesOf(params)));
    InfoMsgBox(text.constData(), 0);
}

void InfoMsgBox(const char* text, int flags)
{
    Q_UNUSED(flags);
    const ShownBox box{ShownBox::Info, textOf(text)};
    bool answer = true;
    if (scriptedBox(box, &answer))
        return;
    QMessageBox::information(boxParent(), kBoxTitle, box.text);
}

int ConfirmMsgBoxA(const char* text, int flags)
{
    Q_UNUSED(flags);
    const ShownBox box{ShownBox::Confirm, textOf(text)};
    bool answer = false;
    if (scriptedBox(box, &answer))
        return answer ? 1 : 0;
    const auto pressed =
        QMessageBox::question(boxParent(), kBoxTitle, box.text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return pressed == QMessageBox::Yes ? 1 : 0;
}

SjqlColor gclModuleBackColor(void)
{
    return state().moduleBackColor;
}

SjqlColor gclModuleToolBarColor(void)
{
    return state().moduleToolBarColor;
}

SjqlColor gclTopBarColor(void)
{
    return state().topBarColor;
}

SjqlColor gclSysFontColor(void)
{
    return state().sysFontColor;
}

int giSysFontSize(void)
{
    return state().sysFontSize;
}

int giSysFontCharSet(void)
{
    return state().sysFontCharSet;
}

void SetSkinSchemeCtrls(void* window)
{
    applySkin(static_cast<QWidget*>(window));
}

} // extern "C"
