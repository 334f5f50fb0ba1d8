// SPDX-License-Identifier: MIT
#include "cleanup/f_sjqlMgr.h"

#include "entry/ModuleContext.h"
#include "hostapi/Gbk.h"
#include "hostapi/HostMessages.h"
#include "hostapi/ModuleLib.h"
#include "ui/HostNotices.h"

#include <QFont>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>

TfrmsjqlMgr::TfrmsjqlMgr(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("frmsjqlMgr"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("历史数据清理"));
    resize(650, 522);
    FormCreate();
}

TfrmsjqlMgr::~TfrmsjqlMgr()
{
    FormDestroy();
}

void TfrmsjqlMgr::FormCreate()
{
    FSavedFuncCode = sjql::fromGbk(GetCurFuncCode());

    lblTitle = new QLabel(QStringLiteral("历史数据清理"), this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    QFont titleFont = lblTitle->font();
    titleFont.setPointSize(14);
    titleFont.setBold(true);
    lblTitle->setFont(titleFont);
    lblTitle->setGeometry(32, 0, 585, 24);

    const bool withholding = sjql::GetHostAppCode() == QLatin1String("03");
    lbltz = new QLabel(withholding ? QStringLiteral("清理并备份代扣代缴数据库中的历史数据，提升系统效率。"
                                                    "被清理的数据将打包存放在“备份路径”")
                                   : QStringLiteral("清理并备份个税数据采集端数据库中的历史数据，提升系统效率。"
                                                    "被清理的数据将打包存放在“备份路径”"),
                       this);
    lbltz->setObjectName(QStringLiteral("lbltz"));
    lbltz->setGeometry(32, 25, 585, 16);
    Label1 = new QLabel(QStringLiteral("下，供必要时恢复使用。"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(32, 45, 233, 16);
    for (QLabel* l : {lbltz, Label1}) {
        QPalette pal = l->palette();
        pal.setColor(QPalette::WindowText, Qt::gray);
        l->setPalette(pal);
    }
}

void TfrmsjqlMgr::FormDestroy()
{
    // Part 5.1: the window tells the main frame that it is gone, with the function code it had.
    sjql::NotifyMainFrame(sjql::MSG_MODULE_CLOSED, FSavedFuncCode);
}

bool TfrmsjqlMgr::event(QEvent* e)
{
    if (static_cast<int>(e->type()) == sjql::MSG_CLOSE_MODULE) {
        close();
        return true;
    }
    return QWidget::event(e);
}

void TfrmsjqlMgr::paintEvent(QPaintEvent* e)
{
    Q_UNUSED(e);
    // The design's background picture: light blue at the top, fading to the window colour.
    QPainter p(this);
    QLinearGradient g(0, 0, 0, height());
    g.setColorAt(0.0, QColor(201, 226, 248));
    g.setColorAt(0.1, QColor(236, 243, 249));
    g.setColorAt(1.0, QColor(236, 243, 249));
    p.fillRect(rect(), g);
}
