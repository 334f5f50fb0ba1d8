// SPDX-License-Identifier: MIT
#include "window/f_sjqlMgr.h"

#include "archive/FileUtils.h"
#include "context/ErrorText.h"
#include "context/ModuleContext.h"
#include "db/Compaction.h"
#include "db/RunQuery.h"
#include "db/SqlLiteral.h"
#include "hostapi/Gbk.h"
#include "hostapi/ModuleLib.h"
#include "jobs/BackupFolders.h"
#include "jobs/BackupJob.h"
#include "jobs/Drives.h"
#include "support/IniFile.h"
#include "ui/ImageButton.h"
#include "ui/UiColor.h"
#include "ui/XPControls.h"
#include "window/Artwork.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLibrary>
#include <QSqlQuery>
#include <QStorageInfo>

#include <algorithm>
#include <functional>

using sjql::fromGbk;
using sjql::toGbk;
using namespace sjql::ui;

namespace {

// The base window's tool bar and line take the top of the window; the design coordinates of the
// window's own controls are counted from below them.
constexpr int kClientTop = 27;

// Colours of the window description.
const QColor kGray(128, 128, 128);
const QColor kMaroon(128, 0, 0);
const QColor kRed(255, 0, 0);
constexpr quint32 kToolResizeColor = 16246481;     // 0xF7E6D1
constexpr quint32 kDefaultToolBarColor = 0xF7E6D1; // the host's default skin

constexpr int kYearBoxTop = 86;
constexpr int kYearBoxWidth = 62;
constexpr int kYearBoxHeight = 17;

// Left edge of year box i in the window description: 70 pixels between the first two boxes, 65
// between the others.
int yearBoxLeft(int i)
{
    return i == 0 ? 130 : 130 + 65 * i + 5;
}

// The password of the host's encrypted settings file.
constexpr const char* kSysConfigPassword = "wqpt1987";

QRect designRect(int left, int top, int width, int height)
{
    return QRect(left, top + kClientTop, width, height);
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, const QPoint& pos)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->move(pos.x(), pos.y() + kClientTop);
    l->adjustSize();
    return l;
}

// The faces of a button drawn on the window colour; the art is kept on the button for a re-skin.
void paintButton(TImageButton* b, sjql::cleanup::TButtonArt art, const QColor& back)
{
    const sjql::cleanup::TButtonPictures pics = sjql::cleanup::ButtonPictures(art, b->size(), back);
    b->SetBitmap(pics.Normal);
    b->SetBitmapOver(pics.Over);
    b->SetBitmapDown(pics.Down);
    b->SetBitmapDisabled(pics.Disabled);
    b->setProperty("sjqlButtonArt", static_cast<int>(art));
}

TImageButton* makeButton(QWidget* parent, const char* name, sjql::cleanup::TButtonArt art, const QRect& r)
{
    auto* b = new TImageButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(r);
    paintButton(b, art, sjql::cleanup::WindowBackColor());
    b->setCursor(Qt::PointingHandCursor);
    return b;
}

QString hostAppCode()
{
    return sjql::GetHostAppCode();
}

// The module's own sub-application folder, with its trailing separator.
QString moduleSubAppPath()
{
    return fromGbk(GetSubAppPath(GetCurSubAppCode()));
}

TfrmsjqlMgr::FolderChooser& folderChooser()
{
    static TfrmsjqlMgr::FolderChooser chooser;
    return chooser;
}

} // namespace

TfrmsjqlMgr::TfrmsjqlMgr(QWidget* parent) : Tfrm_CustomEx(parent)
{
    setObjectName(QStringLiteral("frmsjqlMgr"));
    setWindowTitle(QStringLiteral("历史数据清理"));
    resize(650, 522);
    CreateComponents();
    FormCreate();
}

TfrmsjqlMgr::~TfrmsjqlMgr()
{
    FormDestroy();
}

void TfrmsjqlMgr::CreateComponents()
{
    img1 = new QLabel(this);
    img1->setObjectName(QStringLiteral("img1"));
    img1->setScaledContents(true);
    img1->setPixmap(QPixmap::fromImage(sjql::cleanup::BackgroundPicture(QSize(642, 494))));
    img1->lower();

    lbltz = makeLabel(this, "lbltz", QString(), {32, 25});
    lbltz->setGeometry(designRect(32, 25, 585, 13));
    QFont songti;
    songti.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("WenQuanYi Micro Hei")});
    songti.setPointSize(9);
    lbltz->setFont(songti);
    Label1 = makeLabel(this, "Label1", QStringLiteral("下，供必要时恢复使用。"), {32, 45});
    Label1->setGeometry(designRect(32, 45, 233, 13));
    lbl2 = makeLabel(this, "lbl2", QStringLiteral("清理并备份范围："), {35, 88});
    lblwsj = makeLabel(this, "lblwsj", QStringLiteral("无历史数据"), {139, 88});
    lblwsj->setGeometry(designRect(139, 88, 150, 13));
    lblwsj->hide();
    Label2 = makeLabel(this, "Label2", QStringLiteral("备份路径："), {35, 121});

    edtBFLJ = new TXPFamerEdit(this);
    edtBFLJ->setObjectName(QStringLiteral("edtBFLJ"));
    edtBFLJ->setGeometry(designRect(110, 118, 235, 19));
    edtBFLJ->setText(QStringLiteral("E:\\Quarvo\\备份"));
    edtBFLJ->setReadOnly(true);
    edtBFLJ->setEnabled(false);

    using sjql::cleanup::TButtonArt;
    btnLoad = makeButton(this, "btnLoad", TButtonArt::Browse, designRect(359, 115, 62, 23));
    btnClear = makeButton(this, "btnClear", TButtonArt::Clear, designRect(79, 156, 131, 40));
    btnRegain = makeButton(this, "btnRegain", TButtonArt::Restore, designRect(239, 156, 131, 40));

    img2 = new QLabel(this);
    img2->setObjectName(QStringLiteral("img2"));
    img2->setGeometry(designRect(16, 218, 609, 2));
    img2->setScaledContents(true);
    img2->setPixmap(QPixmap::fromImage(sjql::cleanup::SeparatorPicture()));

    Label3 = makeLabel(this, "Label3", QStringLiteral("隐藏非正常纳税人，优化纳税人信息的管理。"), {32, 241});
    Label3->setGeometry(designRect(32, 241, 585, 13));
    btnHINT = makeButton(this, "btnHINT", TButtonArt::HideNsr, designRect(79, 274, 195, 43));
    btnShow = makeButton(this, "btnShow", TButtonArt::ShowNsr, designRect(295, 274, 195, 43));
    lblts = makeLabel(this, "lblts", QString(), {32, 331});
    lblts->setGeometry(designRect(32, 331, 297, 13));
    lblts->hide();

    ApplyOwnColors();
    for (QLabel* l : {lbltz, Label1, lbl2, lblwsj, Label2, Label3, lblts})
        l->setAttribute(Qt::WA_TranslucentBackground);

    btnLoad->OnClick = [this](QObject*) { btnLoadClick(); };
    btnClear->OnClick = [this](QObject*) { btnClearClick(); };
    btnRegain->OnClick = [this](QObject*) { btnRegainClick(); };
    btnHINT->OnClick = [this](QObject*) { btnHINTClick(); };
    btnShow->OnClick = [this](QObject*) { btnShowClick(); };
}

void TfrmsjqlMgr::ApplyOwnColors()
{
    for (QLabel* l : {lbltz, Label1, Label3})
        SetTextColor(l, kGray);
    SetTextColor(lblwsj, kRed);
    SetTextColor(lblts, kMaroon);
}

void TfrmsjqlMgr::FormCreate()
{
    // The base window has read the host context and skin in its constructor; FYearBoxes starts empty.
    CheckHideNsrAvailable();
}

void TfrmsjqlMgr::FormDestroy()
{
    // The base window sends the closed notice from its own destructor, once.
    try {
        FreeTableObjects(FYearBoxes);
    } catch (...) {
    }
}

void TfrmsjqlMgr::FreeTableObjects(THashTable& table)
{
    while (table.Count() > 0) {
        const QString key = table.KeyAt(0);
        try {
            delete table.Get(key);
        } catch (...) {
            // The key goes all the same, or the loop would never end.
        }
        table.Remove(key);
    }
}

bool TfrmsjqlMgr::event(QEvent* e)
{
    if (e->type() == QEvent::Show && !e->spontaneous()) {
        const bool handled = Tfrm_CustomEx::event(e);
        FormShow();
        return handled;
    }
    return Tfrm_CustomEx::event(e);
}

void TfrmsjqlMgr::resizeEvent(QResizeEvent* e)
{
    Tfrm_CustomEx::resizeEvent(e);
    // The background fills the client area below the bars.
    img1->setGeometry(0, kClientTop, width(), qMax(0, height() - kClientTop));
    img1->lower();
}

void TfrmsjqlMgr::ApplySkin()
{
    Tfrm_CustomEx::ApplySkin();
    // The base class's constructor skins the window before its own controls exist.
    if (!img1)
        return;
    // The host restyles the children on every skin change, the labels' own colours included: the
    // window sets those again after it (the red "无历史数据" must stay red).
    ApplyOwnColors();
    // The pictures are drawn on the host's window colour, so a skin change repaints them too.
    const QColor back = colorFromRef(gclModuleBackColor());
    img1->setPixmap(QPixmap::fromImage(sjql::cleanup::BackgroundPicture(QSize(642, 494), back)));
    for (TImageButton* b : {btnLoad, btnClear, btnRegain, btnHINT, btnShow})
        paintButton(b, static_cast<sjql::cleanup::TButtonArt>(b->property("sjqlButtonArt").toInt()), back);
    for (int i = 0; i < FYearBoxes.Count(); ++i) {
        if (TXPFarmerCheckBox* box = YearBox(QStringLiteral("CBX") + QString::number(i)))
            box->SetColor(back);
    }
    SetWidgetColor(pnlToolResize, toolResizeColor());
    // The skin's font may have changed the captions' widths.
    LayoutYearBoxes();
}

QColor TfrmsjqlMgr::toolResizeColor()
{
    // The window description's colour is the default skin's tool bar colour; under another skin the
    // panel takes that skin's, or its buttons would sit on a patch of the default one.
    const quint32 bar = gclModuleToolBarColor();
    return colorFromRef(bar == kDefaultToolBarColor ? kToolResizeColor : bar);
}

void TfrmsjqlMgr::FormShow()
{
    PrepareWindow();
    RefreshYearList();
    SetWidgetColor(pnlToolResize, toolResizeColor());
    if (!FShownOnce) {
        FShownOnce = true;
        TellUnfinishedYears();
    }
}

void TfrmsjqlMgr::TellUnfinishedYears()
{
    const QList<sjql::UnfinishedYear> years = sjql::FindUnfinishedYears(FWorkDir, sjql::GetAgentCode());
    if (years.isEmpty())
        return;
    QString text;
    for (const sjql::UnfinishedYear& year : years) {
        text += QStringLiteral(
                    "%1年度的备份未完成：所属期%2的备份数据文件留在%3中，尚未打包。再次清理%1年度即可完成其备份。")
                    .arg(year.year, year.periods.join(QStringLiteral("、")), QDir::toNativeSeparators(year.folder));
    }
    const QByteArray bytes = toGbk(text);
    InfoMsgBox(bytes.constData(), 0);
}

TXPFarmerCheckBox* TfrmsjqlMgr::CreateYearBox(int top, int left, const QString& name)
{
    auto* box = new TXPFarmerCheckBox(this);
    box->setObjectName(name);
    box->setGeometry(designRect(left, top, kYearBoxWidth, kYearBoxHeight));
    // The window description's colour (16380908) is the default skin's window colour.
    box->SetColor(colorFromRef(gclModuleBackColor()));
    return box;
}

void TfrmsjqlMgr::PrepareWindow()
{
    if (hostAppCode() == QLatin1String("03")) {
        lbltz->setText(
            QStringLiteral("清理并备份代扣代缴数据库中的历史数据，提升系统效率。被清理的数据将打包存放在“备份路径”"));
        lblts->setText(QStringLiteral("升级到最新版代扣代缴可使用本功能。"));
    } else {
        lbltz->setText(QStringLiteral(
            "清理并备份个税数据采集端数据库中的历史数据，提升系统效率。被清理的数据将打包存放在“备份路径”"));
        lblts->setText(QStringLiteral("升级到最新版个税数据采集端可使用本功能。"));
    }

    // The boxes are made on the first show only: a second set would clash by name.
    if (FYearBoxes.Count() == 0) {
        for (int i = 0; i < kYearBoxCount; ++i) {
            const QString name = QStringLiteral("CBX") + QString::number(i);
            TXPFarmerCheckBox* box = CreateYearBox(kYearBoxTop, yearBoxLeft(i), name);
            box->setText(QString());
            box->SetTransparent(true);
            box->hide();
            FYearBoxes.Add(name, box);
        }
    }

    edtBFLJ->setText(ChooseBackupFolder());
    FWorkDir = sjql::ModuleWorkFolder(moduleSubAppPath());
}

QString TfrmsjqlMgr::ChooseBackupFolder() const
{
    return sjql::ChooseBackupFolder();
}

QString TfrmsjqlMgr::BackupFolder() const
{
    return sjql::cleanup::AbsoluteFromHome(edtBFLJ->text().trimmed(), sjql::cleanup::HomeFolder());
}

void TfrmsjqlMgr::RefreshYearList()
{
    lblwsj->hide();
    btnClear->setEnabled(true);

    // SQLite has no left(); substr() says the same there.
    const QString year4 =
        sjql::GetDBKind() == sjql::dbkSQLite ? QStringLiteral("substr(FFYF,1,4)") : QStringLiteral("left(FFYF,4)");
    const QString sql = QStringLiteral("select ") + year4 + QStringLiteral(" from KJSDSBGB where ") + year4 +
                        QStringLiteral("<>") + sjql::SqlTextLiteral(sjql::GetCurrentPeriod().left(4)) +
                        QStringLiteral(" ") + QStringLiteral(" group by ") + year4 + QStringLiteral(" order by ") +
                        year4 + QStringLiteral(" desc");
    QSqlQuery query;
    if (!sjql::RunQuery(sql, query, true)) {
        const QByteArray text = toGbk(sjql::FormatErrorText(QString::fromLatin1(sjql::kDbErrorCode)));
        InfoMsgBox(text.constData(), 0);
        return;
    }
    QStringList years;
    while (query.next())
        years << query.value(0).toString();
    query.finish();

    // Years whose cleared months lie unpacked in the agent's work folder are offered too, even when
    // the database holds nothing of them any more: clearing them again finishes their backup.
    FUnfinishedYears.clear();
    for (const sjql::UnfinishedYear& year : sjql::FindUnfinishedYears(FWorkDir, sjql::GetAgentCode()))
        FUnfinishedYears << year.year;
    for (const QString& year : std::as_const(FUnfinishedYears)) {
        if (!years.contains(year))
            years << year;
    }
    std::sort(years.begin(), years.end(), std::greater<>());

    if (years.isEmpty()) {
        btnClear->setEnabled(false);
        lblwsj->show();
    }
    for (int i = 0; i < kYearBoxCount; ++i) {
        TXPFarmerCheckBox* box = YearBox(QStringLiteral("CBX") + QString::number(i));
        if (!box)
            continue;
        box->setChecked(false);
        if (i >= years.size()) {
            box->hide();
            continue;
        }
        const QString& year = years[i];
        box->setText(FUnfinishedYears.contains(year) ? sjql::UnfinishedYearCaption(year) : year + QStringLiteral("年"));
        box->show();
    }
    LayoutYearBoxes();
}

void TfrmsjqlMgr::LayoutYearBoxes()
{
    // Each box is as wide as its caption in the box's own font (a marked "2019年(未完成)" is wider
    // than a plain year) and the same gap, one character wide, stands between every two of them;
    // the first box keeps its place from the window description.
    int left = yearBoxLeft(0);
    for (int i = 0; i < kYearBoxCount; ++i) {
        TXPFarmerCheckBox* box = YearBox(QStringLiteral("CBX") + QString::number(i));
        if (!box || box->isHidden())
            continue;
        const QSize hint = box->sizeHint();
        const int height = qMax(kYearBoxHeight, hint.height());
        // Centred on the line of the design's box, beside the "清理并备份范围：" label.
        box->setGeometry(designRect(left, kYearBoxTop - (height - kYearBoxHeight) / 2, hint.width(), height));
        left += hint.width() + box->fontMetrics().horizontalAdvance(QStringLiteral("年"));
    }
}

TXPFarmerCheckBox* TfrmsjqlMgr::YearBox(const QString& name) const
{
    return qobject_cast<TXPFarmerCheckBox*>(FYearBoxes.Get(name));
}

QStringList TfrmsjqlMgr::CheckedYears() const
{
    QStringList years;
    for (int i = 0; i < FYearBoxes.Count(); ++i) {
        const TXPFarmerCheckBox* box = YearBox(QStringLiteral("CBX") + QString::number(i));
        if (box && box->isChecked())
            years.append(box->text().left(4));
    }
    return years;
}

QStringList TfrmsjqlMgr::VisibleYearCaptions() const
{
    QStringList captions;
    for (int i = 0; i < FYearBoxes.Count(); ++i) {
        const TXPFarmerCheckBox* box = YearBox(QStringLiteral("CBX") + QString::number(i));
        if (box && !box->isHidden())
            captions.append(box->text());
    }
    return captions;
}

// --- Backup folder ---

void TfrmsjqlMgr::SetFolderChooser(FolderChooser chooser)
{
    folderChooser() = std::move(chooser);
}

bool TfrmsjqlMgr::SelectFolder(QWidget* owner, const QString& title, const QString& root, QString* folder)
{
    using namespace sjql::cleanup;
    const QString home = HomeFolder();
    // The dialog opens at the folder it is given (or its nearest existing parent, as the backup
    // folder is only made by the first backup); without one, at the root it names: "\" is the root
    // of the volume the user's home folder lies on.
    QString start;
    if (!folder->trimmed().isEmpty())
        start = NearestExistingFolder(folder->trimmed(), home);
    else if (root == QLatin1String("\\"))
        start = QStorageInfo(home).rootPath();
    else
        start = NearestExistingFolder(root, home);

    QString chosen = start;
    if (folderChooser()) {
        if (!folderChooser()(owner, title, &chosen))
            chosen.clear();
    } else {
        chosen = QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
    }
    *folder = QDir::toNativeSeparators(AbsoluteFromHome(chosen, home));
    return !chosen.isEmpty();
}

void TfrmsjqlMgr::btnLoadClick()
{
    QString folder = BackupFolder();
    if (!SelectFolder(window(), QStringLiteral("请选择备份目录"), QStringLiteral("\\"), &folder))
        return;
    edtBFLJ->setText(folder);
    // The services' returned text lives only until their next call: copy it first.
    const QByteArray file = QByteArray(GetSubAppUserConfigFile(GetCurSubAppCode()));
    const QByteArray value = toGbk(folder);
    WriteIniValueString(file.constData(), "SysConfig", "BFPATH", value.constData());
}

// --- Operations ---

// btnClearClick and BackupAndClear: f_sjqlMgr_Backup.cpp.

// btnRegainClick and RestoreArchives: f_sjqlMgr_Restore.cpp.

sjql::CompactResult TfrmsjqlMgr::CompactAccessDatabase()
{
    const sjql::CompactResult result = sjql::CompactAccessDatabase();
    if (!result.ok()) {
        const QByteArray text = toGbk(result.error);
        InfoMsgBox(text.constData(), 0);
    }
    return result;
}

// --- Taxpayer switch ---

void TfrmsjqlMgr::CheckHideNsrAvailable()
{
    int available = 0;
    if (LoadDecryptLibrary()) {
        const QString file = fromGbk(GetSubAppPath(toGbk(hostAppCode()).constData())) + QStringLiteral("sysconfig.dat");
        if (!ReadEncryptedIniInteger(file, QStringLiteral("SysConfig"), QStringLiteral("CanUseHideNsr"), 0, &available))
            available = 0;
    }
    if (available == 0) {
        btnHINT->setEnabled(false);
        btnShow->setEnabled(false);
        lblts->show();
    } else {
        RefreshHideButtons();
    }
    // The library is only needed for this check.
    if (FLibHandle) {
        FLibHandle->unload();
        delete FLibHandle;
        FLibHandle = nullptr;
    }
    FDecryptFile = nullptr;
}

bool TfrmsjqlMgr::LoadDecryptLibrary()
{
    const QString path =
        fromGbk(GetSubAppPath(toGbk(hostAppCode()).constData())) + QString::fromLatin1(SJQL_DECRYPT_LIBRARY_NAME);
    if (!QFileInfo(path).isFile())
        return false;
    FLibHandle = new QLibrary(path);
    if (!FLibHandle->load())
        return false;
    FDecryptFile = reinterpret_cast<CommonDecryptFileProc>(FLibHandle->resolve(SJQL_DECRYPT_ENTRY_NAME));
    return FDecryptFile != nullptr;
}

bool TfrmsjqlMgr::ReadEncryptedIniInteger(const QString& file, const QString& section, const QString& key,
                                          int defaultValue, int* value)
{
    *value = defaultValue;
    const QByteArray source = toGbk(file);
    if (!FDecryptFile || !IniFileIsExist(source.constData()))
        return false;
    const QString tempDir = sjql::AddBackslash(moduleSubAppPath()) + QStringLiteral("temp");
    const QString destination = tempDir + QDir::separator() + QStringLiteral("TmpIni.ini");
    // The decryption library does not create folders: make sure the temp folder is there.
    sjql::ForceDirs(tempDir);
    // The plain copy of the host's settings lives only while it is read, also when decrypting or
    // reading fails; one an earlier version left behind goes now. The temp folder goes with it when
    // nothing else is there.
    QFile::remove(destination);
    const sjql::ScopedFileRemoval plainCopy(destination, true);
    const QByteArray target = toGbk(destination);
    if (!FDecryptFile(source.constData(), target.constData(), kSysConfigPassword, 0))
        return false;
    sjql::IniFile ini;
    if (!ini.load(destination))
        return true; // a damaged copy reads as empty: the default stands
    bool ok = false;
    const int v = ini.value(toGbk(section), toGbk(key)).trimmed().toInt(&ok);
    if (ok)
        *value = v;
    return true;
}

void TfrmsjqlMgr::RefreshHideButtons()
{
    const QByteArray code = toGbk(hostAppCode());
    const QByteArray hidden = QByteArray(GetSubAppUserConfigParam(code.constData(), "SysConfig", "HideNsr", "0"));
    btnHINT->setEnabled(hidden == "0");
    btnShow->setEnabled(!btnHINT->isEnabled());
}

void TfrmsjqlMgr::btnHINTClick()
{
    const QByteArray code = toGbk(hostAppCode());
    const QByteArray file = QByteArray(GetSubAppUserConfigFile(code.constData()));
    WriteIniValueInt(file.constData(), "SysConfig", "HideNsr", 1);
    RefreshHideButtons();
}

void TfrmsjqlMgr::btnShowClick()
{
    const QByteArray code = toGbk(hostAppCode());
    const QByteArray file = QByteArray(GetSubAppUserConfigFile(code.constData()));
    WriteIniValueInt(file.constData(), "SysConfig", "HideNsr", 0);
    RefreshHideButtons();
}
