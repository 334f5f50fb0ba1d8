// SPDX-License-Identifier: MIT
// The host's language: Qt's own Chinese translations for the texts Qt's widgets bring along (the
// standard buttons of message boxes, the file and folder dialogs), so that a Chinese box does not
// offer "Yes" and "No".
#include "HostServicesAdmin.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace sjql::host {

namespace {

QTranslator* installedTranslator()
{
    auto* app = QCoreApplication::instance();
    return app ? app->findChild<QTranslator*>(QStringLiteral("sjqlQtTranslator"), Qt::FindDirectChildrenOnly) : nullptr;
}

} // namespace

bool installChineseTranslations(QString* error)
{
    auto* app = QCoreApplication::instance();
    if (!app) {
        if (error)
            *error = QStringLiteral("程序尚未启动，无法加载界面翻译");
        return false;
    }
    // Once per application: the translator lives as its child.
    if (installedTranslator())
        return true;
    // The host is a Chinese application whatever the process locale says (tests run under C.UTF-8):
    // Chinese for Qt's texts, and the Chinese locale for what Qt formats by locale (dates in the
    // file dialog).
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto* translator = new QTranslator(app);
    translator->setObjectName(QStringLiteral("sjqlQtTranslator"));
    // qtbase holds the widgets' texts; qt_zh_CN is the catalogue that pulls it in, for
    // installations that ship only that one.
    for (const char* name : {"qtbase_zh_CN", "qt_zh_CN"}) {
        if (translator->load(QLatin1String(name), folder) && QCoreApplication::installTranslator(translator))
            return true;
    }
    delete translator;
    if (error)
        *error = QStringLiteral("找不到 Qt 的中文翻译 qtbase_zh_CN.qm（%1），对话框的标准按钮将显示英文；"
                                "请安装软件包 qt6-translations-l10n")
                     .arg(QDir::toNativeSeparators(folder));
    return false;
}

QString chineseTranslationsFile()
{
    const QTranslator* translator = installedTranslator();
    return translator ? translator->filePath() : QString();
}

} // namespace sjql::host
