// SPDX-License-Identifier: MIT
// The host side of the services library: how the reference host (and tests standing in for it)
// set up what the exported services of hostapi/ModuleLib.h report. Not for modules.
//
// Everything here is GUI-thread only, like the services themselves.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <vector>

class QWidget;

namespace sjql {
class HostConnection;
}

namespace sjql::host {

#if defined(SJQL_BUILDING_MODULELIB)
#define SJQL_HOSTADMIN_API __attribute__((visibility("default")))
#else
#define SJQL_HOSTADMIN_API
#endif

// Codes of the reference installation.
inline constexpr const char* kHostAppCode = "03";      // the withholding client
inline constexpr const char* kModuleSubAppCode = "16"; // this module's sub-application

// One entry of the value object, in list order.
struct VoEntry
{
    QString name;
    enum Kind
    {
        Text,
        Bool,
        Object
    } kind = Text;
    QString text;
    bool flag = false;
    void* object = nullptr;
};

// Everything the services report. Paths end with '/'.
struct HostState
{
    QString homeDir; // installation folder; empty: no installation (folder services answer "")
    QString appPath; // GetAppPath; empty: the folder of the host executable
    QString curSubAppCode = QString::fromLatin1(kModuleSubAppCode);
    QString curFuncCode = QStringLiteral("160101");
    QString userName = QStringLiteral("admin");
    std::vector<VoEntry> valueObject;
    QWidget* mainFrame = nullptr; // GetMainFrameHandle (its winId), null = 0
    QWidget* appWindow = nullptr; // GetAppHandle
    // Opaque host objects handed to module windows (GetCurSubAppInfo, ...). Null: the library
    // answers with a placeholder record of its own, never with null.
    void* curSubAppInfo = nullptr;
    void* userInfo = nullptr;
    void* companyInfo = nullptr;
    QWidget* curParentForm = nullptr;         // GetCurParentForm: the container the module opens in
    QWidget* gsMainFrameParentForm = nullptr; // GetgsMainFrameParentForm
    // Skin
    quint32 moduleBackColor = 0xF9F3EC;
    quint32 moduleToolBarColor = 0xF7E6D1;
    quint32 topBarColor = 0x7FCC88;
    quint32 sysFontColor = 0x000000;
    int sysFontSize = 9;
    int sysFontCharSet = 134; // GB2312
};

SJQL_HOSTADMIN_API HostState& state();
// Puts every field back to its default (tests start from a known state).
SJQL_HOSTADMIN_API void resetState();

// Folder of a sub-application: <home>/Apps/<code>/ (with the trailing separator).
SJQL_HOSTADMIN_API QString subAppPath(const QString& code);
// Per-user ini of a sub-application: <home>/Users/<user>/<code>.ini; and the user's own: <home>/Users/<user>/User.ini.
SJQL_HOSTADMIN_API QString subAppUserConfigFile(const QString& code);
SJQL_HOSTADMIN_API QString userConfigFile();

// Message boxes. Without a script they are real modal boxes. With a script, nothing is shown:
// every box is recorded and the script's answer is used (true = confirm / OK).
struct ShownBox
{
    enum Kind
    {
        Info,
        Confirm
    } kind = Info;
    QString text;
};
using BoxScript = std::function<bool(const ShownBox&)>;
SJQL_HOSTADMIN_API void setBoxScript(BoxScript script);
SJQL_HOSTADMIN_API const std::vector<ShownBox>& shownBoxes();
SJQL_HOSTADMIN_API void clearShownBoxes();

// The message catalogue text of a number with its parameters put in (what GetMsg returns, as text).
// `gbkParams` holds the parameters as GBK bytes joined by the byte 0x01; it is cut to 255 bytes
// (never inside a character) before the parameters are split. Placeholders "%1", "%2" of the
// catalogue text take the parameters in order; a missing parameter is empty. An unknown number
// gives a text that names the number and lists the parameters.
SJQL_HOSTADMIN_API QString catalogueText(int number, const QByteArray& gbkParams);
// The bare catalogue text of a number (placeholders not filled); empty for an unknown number.
SJQL_HOSTADMIN_API QString catalogueTemplate(int number);

// Installs Qt's own Chinese translations (qtbase_zh_CN.qm from Qt's translations folder) in the
// running application, whatever the process locale, and makes Chinese the default locale: the
// standard buttons of message boxes and the file dialogs read 确定, 取消, 是, 否, 打开, ... Call it
// once the QApplication exists; calling it again does nothing. False with *error (Chinese, naming
// the folder and the package to install) when the translations are not there.
SJQL_HOSTADMIN_API bool installChineseTranslations(QString* error);
// The translation file installed by installChineseTranslations; empty when none is.
SJQL_HOSTADMIN_API QString chineseTranslationsFile();

// Skin colours (COLORREF 0x00BBGGRR) as Qt colours and back.
inline QColor fromColorRef(quint32 c)
{
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}
inline quint32 toColorRef(const QColor& c)
{
    return quint32(c.red()) | (quint32(c.green()) << 8) | (quint32(c.blue()) << 16);
}

} // namespace sjql::host
