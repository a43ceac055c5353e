#include "shell/dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QKeyEvent>
#include <QShowEvent>
#include <algorithm>
#include <cstdio>

#include "engine/format.h"
#include "engine/unpackjob.h"
#include "platform/files.h"
#include "platform/mainwindow.h"
#include "platform/strings.h"
#include "resources/textids.h"
#include "shell/help.h"
#include "shell/dialogunits.h"
#include "shell/ids.h"
#include "shell/images.h"
#include "shell/modal.h"
#include "shell/settings.h"
#include "shell/texts.h"

namespace {

bool Japanese()
{
    return CurrentLanguage() == Language::Japanese;
}

// A rectangle in dialog units for each language: x, y, width, height.
struct UnitRect {
    int en[4];
    int ja[4];
};

class Placer {
public:
    explicit Placer(QDialog* dialog)
        : m_units(DialogUnits::FromFont(QFontMetrics(dialog->font()))), m_japanese(Japanese())
    {
    }
    void Place(QWidget* control, const UnitRect& at) const
    {
        const int* r = m_japanese ? at.ja : at.en;
        control->setGeometry(m_units.Rect(r[0], r[1], r[2], r[3]));
    }
    QSize Size(int enWidth, int enHeight, int jaWidth, int jaHeight) const
    {
        return m_japanese ? QSize(m_units.X(jaWidth), m_units.Y(jaHeight))
                          : QSize(m_units.X(enWidth), m_units.Y(enHeight));
    }
    const DialogUnits& Units() const { return m_units; }

private:
    DialogUnits m_units;
    bool m_japanese;
};

void PrepareDialog(QDialog* dialog, unsigned captionId)
{
    // Modal frame with caption and system menu; no resizing, no context help button.
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    dialog->setFont(DialogFont());
    if (captionId != 0) {
        dialog->setWindowTitle(Text(captionId));
    }
}

// The dialogs' File Name field, named for assistive technology like its label.
QLineEdit* MakeFileNameField(QDialog* dialog)
{
    auto* field = new QLineEdit(dialog);
    field->setObjectName(QStringLiteral("fileName"));
    field->setAccessibleName(WithoutMnemonic(Text(IDS_DLG_FILE_NAME)));
    return field;
}

QPushButton* MakeButton(QDialog* dialog, unsigned textId, const char* name)
{
    auto* button = new QPushButton(Text(textId), dialog);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

QString CannotOpenMessage(const QString& name)
{
    QString message = Text(IDS_CANNOT_OPEN_FILE);
    message.replace(QStringLiteral("%s"), name);
    return message;
}

// The chooser of Browse, for one file or several: starts in the folder last chosen or worked in, else in the folder
// "database" in the program's folder (the current folder when there is neither), and shows
// the filter's first entry first. The folder of a chosen file is remembered.
QStringList BrowseForFiles(QWidget* owner, const QString& filter)
{
    QString start = Settings::LastFolder();
    if (start.isEmpty() || !QFileInfo(start).isDir()) {
        start = GetModuleDirectory() + QStringLiteral("database");
    }
    if (!QFileInfo(start).isDir()) {
        start.clear();
    }
    const QStringList chosen = Modal::OpenFileNames(owner, start, filter);
    if (!chosen.isEmpty()) {
        Settings::SetLastFolder(QFileInfo(chosen.constFirst()).absolutePath());
    }
    return chosen;
}

} // namespace

QStringList FileNamesIn(const QString& field)
{
    const QString text = field.trimmed();
    if (text.isEmpty()) {
        return {};
    }
    // Several names: each between double quotes, nothing but spaces between them.
    QStringList names;
    qsizetype at = 0;
    while (at < text.size() && text.at(at) == QLatin1Char('"')) {
        const qsizetype close = text.indexOf(QLatin1Char('"'), at + 1);
        if (close < 0) {
            break;
        }
        names << text.mid(at + 1, close - at - 1);
        at = close + 1;
        while (at < text.size() && text.at(at).isSpace()) {
            ++at;
        }
    }
    if (at < text.size() || names.isEmpty()) {
        return {field}; // one name, as typed: the check at OK sees what the user sees
    }
    return names;
}

QString FileNamesField(const QStringList& names)
{
    if (names.size() == 1) {
        return names.constFirst();
    }
    QStringList quoted;
    for (const QString& name : names) {
        quoted << QLatin1Char('"') + name + QLatin1Char('"');
    }
    return quoted.join(QLatin1Char(' '));
}

int VolumeSizeForIndex(int index)
{
    switch (index) {
    case 0: return 1440000;
    case 1: return 1200000;
    case 2: return 360000;
    case 3: return 720000;
    default: return 500000;
    }
}

bool FileOpensForReading(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty() || QFileInfo(path).isDir()) {
        return false;
    }
    std::FILE* file = std::fopen(name.constData(), "rb");
    if (file == nullptr) {
        return false;
    }
    std::fclose(file);
    return true;
}

// ---------------------------------------------------------------------------------------------
// What both dialogs share.

void CProjectFileDlg::showEvent(QShowEvent* event)
{
    if (!m_initialised) {
        m_initialised = true;
        SetUpControls();
    }
    QDialog::showEvent(event);
}

void CProjectFileDlg::keyPressEvent(QKeyEvent* event)
{
    // F1 pressed anywhere in the dialog reaches it here, as a help request.
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        OnDialogHelp();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CProjectFileDlg::accept()
{
    if (SaveFields()) {
        QDialog::accept();
    }
}

bool CProjectFileDlg::FileNameOpens()
{
    const QStringList names = GetFileNames();
    QString failed = names.isEmpty() ? m_strFileName : QString();
    for (const QString& name : names) {
        if (!FileOpensForReading(name)) {
            failed = name;
            break;
        }
    }
    if (!names.isEmpty() && failed.isEmpty()) {
        return true;
    }
    Modal::MessageBox(this, CannotOpenMessage(failed), MB_OK | MB_ICONEXCLAMATION);
    m_fileName->setFocus();
    m_fileName->selectAll();
    return false;
}

void CProjectFileDlg::OnBrowse(const QString& filter)
{
    const QStringList chosen = BrowseForFiles(this, filter);
    if (!chosen.isEmpty()) {
        m_strFileName = FileNamesField(chosen);
        m_fileName->setText(m_strFileName);
    }
}

void CProjectFileDlg::OnDialogHelp()
{
    ShowHelpFinder(this);
}

// ---------------------------------------------------------------------------------------------
// The Pack dialog (131).

CPackProjectDlg::CPackProjectDlg(QWidget* owner) : CProjectFileDlg(owner)
{
    const Settings::SplitChoice split = Settings::LastSplit();
    m_bSeparateFile = split.separate ? 1 : 0;
    m_nDiskSizeIndex = split.diskSizeIndex;
    m_bWriteChecksums = Settings::WriteChecksums() ? 1 : 0;
    m_nRecoveryDisks = Settings::RecoveryDisks();

    setObjectName(QStringLiteral("packDialog"));
    PrepareDialog(this, IDS_PACK_CAPTION);
    const Placer place(this);

    m_fileName = MakeFileNameField(this);
    place.Place(m_fileName, {{43, 10, 132, 13}, {43, 10, 132, 13}});
    auto* label = new QLabel(Text(IDS_DLG_FILE_NAME), this);
    label->setObjectName(QStringLiteral("fileNameLabel"));
    label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    label->setBuddy(m_fileName);
    place.Place(label, {{0, 12, 41, 15}, {4, 12, 36, 8}});
    m_browse = MakeButton(this, IDS_DLG_BROWSE, "browse");
    place.Place(m_browse, {{178, 9, 49, 14}, {184, 9, 32, 14}});
    m_separateFile = new QCheckBox(Text(IDS_DLG_SEPARATE_FILE), this);
    m_separateFile->setObjectName(QStringLiteral("separateFile"));
    place.Place(m_separateFile, {{8, 36, 71, 13}, {11, 36, 63, 13}});
    m_diskSize = new QComboBox(this);
    m_diskSize->setObjectName(QStringLiteral("diskSize"));
    m_diskSize->setEditable(false);
    m_diskSize->setAccessibleName(Text(IDS_ACC_DISK_SIZE));
    // The template's height includes the dropped list; the closed box is one line high.
    place.Place(m_diskSize, {{81, 37, 56, 60}, {76, 37, 56, 60}});
    m_diskSize->resize(m_diskSize->width(), place.Units().Y(12));
    // The list's label above it, so that it is not known by its value alone.
    auto* diskSizeLabel = new QLabel(Text(IDS_DLG_DISK_SIZE), this);
    diskSizeLabel->setObjectName(QStringLiteral("diskSizeLabel"));
    diskSizeLabel->setBuddy(m_diskSize);
    place.Place(diskSizeLabel, {{82, 27, 60, 8}, {77, 27, 60, 8}});
    // Beside the disk size, labelled above as it is: how many disks of the set the recovery
    // files can rebuild.
    auto* recoveryLabel = new QLabel(Text(IDS_DLG_RECOVERY_DISKS), this);
    recoveryLabel->setObjectName(QStringLiteral("recoveryDisksLabel"));
    place.Place(recoveryLabel, {{146, 27, 60, 8}, {141, 27, 60, 8}});
    m_recoveryDisks = new QComboBox(this);
    m_recoveryDisks->setObjectName(QStringLiteral("recoveryDisks"));
    m_recoveryDisks->setEditable(false);
    m_recoveryDisks->setAccessibleName(WithoutMnemonic(Text(IDS_DLG_RECOVERY_DISKS)));
    for (const char* disks : {"0", "1", "2"})
        m_recoveryDisks->addItem(QString::fromLatin1(disks));
    recoveryLabel->setBuddy(m_recoveryDisks);
    place.Place(m_recoveryDisks, {{145, 37, 32, 40}, {140, 37, 32, 40}});
    m_recoveryDisks->resize(m_recoveryDisks->width(), place.Units().Y(12));
    m_writeChecksums = new QCheckBox(Text(IDS_DLG_WRITE_CHECKSUMS), this);
    m_writeChecksums->setObjectName(QStringLiteral("writeChecksums"));
    place.Place(m_writeChecksums, {{8, 54, 130, 13}, {11, 54, 130, 13}});
    m_ok = MakeButton(this, IDS_DLG_OK, "ok");
    m_ok->setDefault(true);
    place.Place(m_ok, {{53, 74, 50, 14}, {52, 74, 50, 14}});
    m_cancel = MakeButton(this, IDS_DLG_CANCEL, "cancel");
    // On OK's row: the template puts Cancel one unit higher, which shows as a step.
    place.Place(m_cancel, {{129, 74, 50, 14}, {128, 74, 50, 14}});
    setFixedSize(place.Size(229, 98, 224, 99));

    setTabOrder(m_fileName, m_browse);
    setTabOrder(m_browse, m_separateFile);
    setTabOrder(m_separateFile, m_diskSize);
    setTabOrder(m_diskSize, m_recoveryDisks);
    setTabOrder(m_recoveryDisks, m_writeChecksums);
    setTabOrder(m_writeChecksums, m_ok);
    setTabOrder(m_ok, m_cancel);

    connect(m_browse, &QPushButton::clicked, this, [this] {
        OnBrowse(FilterFromCatalogue(IDS_PACK_FILTER) + QStringLiteral(";;") +
                 FilterFromCatalogue(IDS_ALL_FILES_FILTER));
    });
    connect(m_separateFile, &QCheckBox::clicked, this, &CPackProjectDlg::OnSeparateFile);
    connect(m_fileName, &QLineEdit::textChanged, this, &CPackProjectDlg::OnChangeFileName);
    connect(m_ok, &QPushButton::clicked, this, &CProjectFileDlg::accept);
    connect(m_cancel, &QPushButton::clicked, this, &CPackProjectDlg::reject);
}

void CPackProjectDlg::SetUpControls()
{
    LoadFields();
    // Largest first; each row carries its index of VolumeSizeForIndex, the index the choice
    // is remembered by.
    const struct {
        unsigned textId;
        int index;
    } sizes[] = {{IDS_DISK_SIZE_144, 0},
                 {IDS_DISK_SIZE_120, 1},
                 {IDS_DISK_SIZE_720, 3},
                 {IDS_DISK_SIZE_360, 2}};
    for (const auto& size : sizes) {
        m_diskSize->addItem(Text(size.textId), size.index);
    }
    // The split choice of the last OK, or the first size.
    m_diskSize->setCurrentIndex(std::max(0, m_diskSize->findData(m_nDiskSizeIndex)));
    OnSeparateFile();
    OnChangeFileName();
    m_fileName->setFocus();
}

void CPackProjectDlg::LoadFields()
{
    m_separateFile->setChecked(m_bSeparateFile != 0);
    m_diskSize->setCurrentIndex(m_diskSize->findData(m_nDiskSizeIndex));
    m_writeChecksums->setChecked(m_bWriteChecksums != 0);
    m_recoveryDisks->setCurrentIndex(m_nRecoveryDisks);
    m_fileName->setText(m_strFileName);
}

bool CPackProjectDlg::SaveFields()
{
    m_bSeparateFile = m_separateFile->isChecked() ? 1 : 0;
    m_nDiskSizeIndex = m_diskSize->currentIndex() >= 0 ? m_diskSize->currentData().toInt() : -1;
    m_bWriteChecksums = m_writeChecksums->isChecked() ? 1 : 0;
    m_nRecoveryDisks = m_recoveryDisks->currentIndex();
    m_strFileName = m_fileName->text();
    if (!FileNameOpens()) {
        return false;
    }
    Settings::SetLastSplit({m_bSeparateFile != 0, m_nDiskSizeIndex});
    Settings::SetWriteChecksums(m_bWriteChecksums != 0);
    Settings::SetRecoveryDisks(m_nRecoveryDisks);
    return true;
}

void CPackProjectDlg::OnSeparateFile()
{
    m_diskSize->setEnabled(m_separateFile->isChecked());
    m_recoveryDisks->setEnabled(m_separateFile->isChecked());
}

void CPackProjectDlg::OnChangeFileName()
{
    m_strFileName = m_fileName->text();
    m_ok->setEnabled(!m_strFileName.isEmpty());
}

// ---------------------------------------------------------------------------------------------
// The Unpack dialog (132).

CUnpackProjectDlg::CUnpackProjectDlg(QWidget* owner, bool restores)
    : CProjectFileDlg(owner), m_restores(restores)
{
    setObjectName(QStringLiteral("unpackDialog"));
    PrepareDialog(this, IDS_UNPACK_CAPTION);
    const Placer place(this);

    m_fileName = MakeFileNameField(this);
    place.Place(m_fileName, {{43, 19, 132, 15}, {43, 19, 132, 15}});
    auto* label = new QLabel(Text(IDS_DLG_FILE_NAME), this);
    label->setObjectName(QStringLiteral("fileNameLabel"));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setBuddy(m_fileName);
    // Centred on the field: the label's template rectangle is one text line at the field's
    // middle.
    place.Place(label, {{3, 23, 38, 8}, {3, 23, 38, 8}});
    m_browse = MakeButton(this, IDS_DLG_BROWSE, "browse");
    place.Place(m_browse, {{178, 19, 44, 14}, {179, 19, 32, 14}});
    // The folder to restore into, below the file: empty for the packed file's own folder, so
    // that a set on read-only media restores elsewhere.
    m_into = new QLineEdit(this);
    m_into->setObjectName(QStringLiteral("intoFolder"));
    m_into->setPlaceholderText(Text(IDS_DLG_INTO_PLACEHOLDER));
    m_into->setAccessibleName(WithoutMnemonic(Text(IDS_DLG_RESTORE_TO)));
    place.Place(m_into, {{43, 42, 132, 15}, {43, 42, 132, 15}});
    auto* intoLabel = new QLabel(Text(IDS_DLG_RESTORE_TO), this);
    intoLabel->setObjectName(QStringLiteral("intoFolderLabel"));
    intoLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    intoLabel->setBuddy(m_into);
    place.Place(intoLabel, {{1, 46, 40, 8}, {1, 46, 40, 8}});
    m_intoBrowse = MakeButton(this, IDS_DLG_BROWSE_FOLDER, "intoBrowse");
    place.Place(m_intoBrowse, {{178, 42, 44, 14}, {179, 42, 32, 14}});
    for (QWidget* control : {static_cast<QWidget*>(m_into), static_cast<QWidget*>(intoLabel),
                             static_cast<QWidget*>(m_intoBrowse)}) {
        control->setVisible(restores);
    }
    m_ok = MakeButton(this, IDS_DLG_OK, "ok");
    m_ok->setDefault(true);
    place.Place(m_ok, {{52, 74, 50, 14}, {52, 74, 50, 14}});
    m_cancel = MakeButton(this, IDS_DLG_CANCEL, "cancel");
    place.Place(m_cancel, {{128, 74, 50, 14}, {128, 74, 50, 14}});
    setFixedSize(place.Size(224, 99, 224, 99));

    setTabOrder(m_fileName, m_browse);
    setTabOrder(m_browse, m_into);
    setTabOrder(m_into, m_intoBrowse);
    setTabOrder(m_intoBrowse, m_ok);
    setTabOrder(m_ok, m_cancel);

    connect(m_browse, &QPushButton::clicked, this,
            [this] { OnBrowse(FilterFromCatalogue(IDS_UNPACK_CHOOSER_FILTER)); });
    connect(m_intoBrowse, &QPushButton::clicked, this, &CUnpackProjectDlg::OnBrowseIntoFolder);
    connect(m_fileName, &QLineEdit::textChanged, this, &CUnpackProjectDlg::OnChangeFileName);
    connect(m_ok, &QPushButton::clicked, this, &CProjectFileDlg::accept);
    connect(m_cancel, &QPushButton::clicked, this, &CUnpackProjectDlg::reject);
}

void CUnpackProjectDlg::SetUpControls()
{
    LoadFields();
    OnChangeFileName();
    m_fileName->setFocus();
}

void CUnpackProjectDlg::LoadFields()
{
    m_fileName->setText(m_strFileName);
    m_into->setText(m_strIntoFolder);
}

bool CUnpackProjectDlg::SaveFields()
{
    m_strFileName = m_fileName->text();
    return FileNameOpens() && (!m_restores || IntoFolderWritable());
}

void CUnpackProjectDlg::OnBrowseIntoFolder()
{
    const QString start =
        m_into->text().trimmed().isEmpty() ? Settings::LastFolder() : m_into->text().trimmed();
    const QString chosen =
        Modal::FolderName(this, start, WithoutMnemonic(Text(IDS_DLG_RESTORE_TO)));
    if (!chosen.isEmpty()) {
        m_into->setText(chosen);
    }
}

bool CUnpackProjectDlg::IntoFolderWritable()
{
    for (const QString& packed : GetFileNames()) {
        if (!IntoFolderWritableFor(packed)) {
            return false;
        }
    }
    return true;
}

bool CUnpackProjectDlg::IntoFolderWritableFor(const QString& packed)
{
    const QString typed = m_into->text().trimmed();
    UnpackRequest request;
    request.packedPath =
        QFile::encodeName(QFileInfo(packed.trimmed()).absoluteFilePath()).toStdString();
    request.intoFolder = typed.isEmpty()
                             ? std::string()
                             : QFile::encodeName(QFileInfo(typed).absoluteFilePath()).toStdString();
    int error = RestoreFolderError(request);
    if (error == 0) {
        m_strIntoFolder = QFile::decodeName(request.intoFolder.c_str());
        return true;
    }
    const std::string folder = RestoreFolder(request);
    const std::string reason = SystemErrorText(error);
    if (!typed.isEmpty()) {
        // A folder the user named: said why, and the dialog stays open to name another.
        Modal::MessageBox(
            this,
            QString::fromStdString(FormatText(LoadString(IDS_INTO_FOLDER_NOT_WRITABLE).c_str(),
                                              folder.c_str(), reason.c_str())),
            MB_OK | MB_ICONEXCLAMATION);
        m_into->setFocus();
        m_into->selectAll();
        return false;
    }
    // The packed file's own folder is read-only: offer to restore into another one.
    if (Modal::MessageBox(
            this,
            QString::fromStdString(FormatText(LoadString(IDS_FOLDER_READ_ONLY_CHOOSE).c_str(),
                                              folder.c_str(), reason.c_str())),
            MB_OKCANCEL | MB_ICONEXCLAMATION) != IDOK) {
        m_into->setFocus();
        return false;
    }
    OnBrowseIntoFolder();
    if (m_into->text().trimmed().isEmpty()) {
        m_into->setFocus();
        return false;
    }
    return IntoFolderWritableFor(packed);
}

void CUnpackProjectDlg::OnChangeFileName()
{
    m_ok->setEnabled(!m_fileName->text().isEmpty());
}

// ---------------------------------------------------------------------------------------------
// The About box (IDD_ABOUTBOX).

CAboutDlg::CAboutDlg(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("aboutDialog"));
    PrepareDialog(this, IDS_ABOUT_CAPTION);
    const Placer place(this);
    const bool japanese = Japanese();

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setPixmap(AppIcon().pixmap(32, 32));
    icon->setAccessibleName(Text(IDS_ACC_ICON));
    icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place.Place(icon, {{9, 11, 20, 20}, {11, 11, 20, 20}});
    icon->resize(icon->size().expandedTo(QSize(32, 32)));

    auto* version = new QLabel(Text(IDS_ABOUT_VERSION), this);
    version->setObjectName(QStringLiteral("version"));
    place.Place(version, {{40, 10, 119, 8}, {40, 10, 119, 8}});

    auto makeOk = [&] {
        m_ok = MakeButton(this, IDS_DLG_OK, "ok");
        m_ok->setDefault(true);
        place.Place(m_ok, {{176, 6, 32, 14}, {176, 6, 32, 14}});
    };
    if (!japanese) {
        makeOk();
    }
    auto* copyright = new QLabel(Text(IDS_ABOUT_COPYRIGHT), this);
    copyright->setObjectName(QStringLiteral("copyright"));
    copyright->setWordWrap(true);
    copyright->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place.Place(copyright, {{40, 25, 166, 24}, {40, 25, 159, 22}});
    if (japanese) {
        makeOk();
    }
    setFixedSize(place.Size(217, 55, 217, 55));
    connect(m_ok, &QPushButton::clicked, this, &CAboutDlg::accept);
}

void CAboutDlg::showEvent(QShowEvent* event)
{
    // Not centred: 34 and 22 dialog units from the top-left corner of the owner's client area.
    if (QWidget* owner = parentWidget()) {
        const DialogUnits units = DialogUnits::FromFont(QFontMetrics(font()));
        const QPoint clientTopLeft = owner->mapToGlobal(QPoint(0, 0));
        move(clientTopLeft + QPoint(units.X(34), units.Y(22)));
    }
    QDialog::showEvent(event);
}
