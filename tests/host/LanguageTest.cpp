// SPDX-License-Identifier: MIT
// The host speaks Chinese in the widgets Qt brings along: the standard buttons of its message boxes
// and the buttons of the file dialogs, whatever the process locale (the tests run under C.UTF-8).
#include "host/services/HostServicesAdmin.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace sjql::host;

namespace {

// The caption without its keyboard mnemonic: "是(&Y)" and "&Yes" read "是" and "Yes".
QString caption(const QAbstractButton* b)
{
    QString text = b ? b->text() : QString();
    static const QRegularExpression mnemonic(QStringLiteral("\\(&[A-Za-z]\\)|&"));
    return text.remove(mnemonic).trimmed();
}

// One test: the translator belongs to the application and stays for the rest of the process.
TEST(HostLanguage, StandardButtonsAndFileDialogsAreChinese)
{
    {
        // Without the host's set-up Qt speaks English here: the check below is not vacuous.
        QDialogButtonBox plain(QDialogButtonBox::Ok);
        ASSERT_EQ(caption(plain.button(QDialogButtonBox::Ok)), QStringLiteral("OK"));
    }
    QString error;
    ASSERT_TRUE(installChineseTranslations(&error)) << error.toStdString();
    EXPECT_TRUE(chineseTranslationsFile().endsWith(QStringLiteral("qtbase_zh_CN.qm")))
        << chineseTranslationsFile().toStdString();
    EXPECT_TRUE(installChineseTranslations(&error)); // a second call keeps what is there

    QMessageBox question(QMessageBox::Question, QStringLiteral("系统提示"), QStringLiteral("确定要清理吗？"),
                         QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(caption(question.button(QMessageBox::Yes)), QStringLiteral("是"));
    EXPECT_EQ(caption(question.button(QMessageBox::No)), QStringLiteral("否"));
    QMessageBox info(QMessageBox::Information, QStringLiteral("系统提示"), QStringLiteral("完成"), QMessageBox::Ok);
    EXPECT_EQ(caption(info.button(QMessageBox::Ok)), QStringLiteral("确定"));

    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    EXPECT_EQ(caption(buttons.button(QDialogButtonBox::Ok)), QStringLiteral("确定"));
    EXPECT_EQ(caption(buttons.button(QDialogButtonBox::Cancel)), QStringLiteral("取消"));

    // The module's own open dialog is Qt's (not the desktop's), as are the save and folder dialogs.
    for (const auto mode : {QFileDialog::AcceptOpen, QFileDialog::AcceptSave}) {
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(mode);
        auto* box = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        ASSERT_NE(box, nullptr);
        const QList<QAbstractButton*> shown = box->buttons();
        ASSERT_EQ(shown.size(), 2);
        QStringList captions;
        for (const QAbstractButton* b : shown)
            captions << caption(b);
        captions.sort();
        const QString accept = mode == QFileDialog::AcceptOpen ? QStringLiteral("打开") : QStringLiteral("保存");
        QStringList expected{QStringLiteral("取消"), accept};
        expected.sort();
        EXPECT_EQ(captions, expected) << captions.join(QLatin1Char(',')).toStdString();
        auto* typeLabel = dialog.findChild<QLabel*>(QStringLiteral("fileTypeLabel"));
        ASSERT_NE(typeLabel, nullptr);
        EXPECT_NE(typeLabel->text(), QStringLiteral("Files of type:"));
    }
}

} // namespace
