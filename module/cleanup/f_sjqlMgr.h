// SPDX-License-Identifier: MIT
// TfrmsjqlMgr, the module's cleanup manager window (Part 3.1).
//
// For now a small stand-in that the entry can create, embed and close: a title, the host-kind
// sentence, the design size 650 x 522, and the window's part of the host protocol (close on 1280,
// the 1302 notice with the function code captured at creation when it is destroyed). It is rebuilt
// on the window framework's Tfrm_CustomEx.
#pragma once

#include <QString>
#include <QWidget>

class QLabel;

class TfrmsjqlMgr : public QWidget
{
    Q_OBJECT
public:
    explicit TfrmsjqlMgr(QWidget* parent = nullptr);
    ~TfrmsjqlMgr() override;

    // The host function code captured in FormCreate, sent back with the 1302 notice.
    const QString& SavedFuncCode() const { return FSavedFuncCode; }

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    void FormCreate();
    void FormDestroy();

    QString FSavedFuncCode;
    QLabel* lblTitle = nullptr;
    QLabel* lbltz = nullptr;
    QLabel* Label1 = nullptr;
};
