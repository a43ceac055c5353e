// The Pack and Unpack dialogs and the About box.
//
// Each dialog is laid out in dialog units of its font, like the form, and follows the same
// life: the members go into the controls when it opens (SetUpControls, through LoadFields),
// come back at OK (SaveFields), and OK closes the dialog only when the named file opens.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

// The volume size in bytes for an index of the disk-size list: 1.44 MB, 1.20 MB, 360K, 720 K;
// 500000 for any other index (no selection).
int VolumeSizeForIndex(int index);

// True when the file opens for reading, as the dialogs check a name at OK. A folder does not
// count: it opens on Linux but holds no file to pack or unpack.
bool FileOpensForReading(const QString& path);

// The names a File Name field holds: several names each in double quotes ("a.kmx" "b.kmx"),
// as the chooser fills it with several files, else the one name as typed. None for a field
// of spaces only.
QStringList FileNamesIn(const QString& field);
// The text of a File Name field for names: one name as it is, several each in double quotes.
QString FileNamesField(const QStringList& names);

// What the Pack and Unpack dialogs share: the File Name field with Browse..., OK and Cancel,
// the check at OK that the named file (each of the files named) opens (IDS_CANNOT_OPEN_FILE, the dialog stays open with the
// name selected), F1 for help, and the start of the dialog's life on its first showing.
class CProjectFileDlg : public QDialog {
    Q_OBJECT
public:
    void SetFileName(const QString& name) { m_strFileName = name; }
    QString GetFileName() const { return m_strFileName; }
    // The files the field names: one, or several chosen at once (FileNamesIn).
    QStringList GetFileNames() const { return FileNamesIn(m_strFileName); }

    QLineEdit* FileNameField() const { return m_fileName; }
    QPushButton* BrowseButton() const { return m_browse; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancel; }

    void accept() override;

protected:
    explicit CProjectFileDlg(QWidget* owner) : QDialog(owner) {}

    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

    // When the dialog first shows: the members into the controls, and the controls' states.
    virtual void SetUpControls() = 0;
    // The members into the controls.
    virtual void LoadFields() = 0;
    // At OK: the controls back into the members; false keeps the dialog open.
    virtual bool SaveFields() = 0;
    // At OK: true when every file m_strFileName names opens; otherwise IDS_CANNOT_OPEN_FILE
    // for the first that does not, and the field is selected.
    bool FileNameOpens();
    // Browse...: the chooser with the Qt name filter, for one file or several; the files
    // chosen fill the field.
    void OnBrowse(const QString& filter);
    void OnDialogHelp();

    QString m_strFileName;
    QLineEdit* m_fileName = nullptr;
    QPushButton* m_browse = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;

private:
    bool m_initialised = false;
};

class CPackProjectDlg : public CProjectFileDlg {
    Q_OBJECT
public:
    explicit CPackProjectDlg(QWidget* owner);

    int IsSeparateFile() const { return m_bSeparateFile; }
    // Write checksums: NAME.sha256 beside the packed file or set, as the console's --manifest.
    int IsWriteChecksums() const { return m_bWriteChecksums; }
    int GetVolumeSize() const { return VolumeSizeForIndex(m_nDiskSizeIndex); }
    // Volumes' worth of recovery files beside a split set (0, 1 or 2), as --recovery N.
    int GetRecoveryDisks() const { return m_nRecoveryDisks; }

    QCheckBox* SeparateFileBox() const { return m_separateFile; }
    QComboBox* DiskSizeList() const { return m_diskSize; }
    QComboBox* RecoveryDisksList() const { return m_recoveryDisks; }
    QCheckBox* WriteChecksumsBox() const { return m_writeChecksums; }

private:
    void SetUpControls() override;
    void LoadFields() override;
    bool SaveFields() override;
    void OnSeparateFile();
    void OnChangeFileName();

    int m_bSeparateFile = 0;
    int m_nDiskSizeIndex = -1;
    int m_bWriteChecksums = 0;
    int m_nRecoveryDisks = 0;

    QCheckBox* m_separateFile;
    QCheckBox* m_writeChecksums;
    QComboBox* m_diskSize;
    QComboBox* m_recoveryDisks;
};

class CUnpackProjectDlg : public CProjectFileDlg {
    Q_OBJECT
public:
    // restores: the dialog of Unpack, with the folder to restore into; Test restores nothing.
    explicit CUnpackProjectDlg(QWidget* owner, bool restores = true);

    // The folder to restore into, absolute; empty for the packed file's own folder.
    QString GetIntoFolder() const { return m_strIntoFolder; }
    QLineEdit* IntoFolderField() const { return m_into; }
    QPushButton* IntoBrowseButton() const { return m_intoBrowse; }

private:
    void SetUpControls() override;
    void LoadFields() override;
    bool SaveFields() override;
    void OnChangeFileName();
    // Browse... of the folder: a chosen folder fills the field.
    void OnBrowseIntoFolder();
    // At OK: true when the jobs can create files in the folders they restore into. A read-only
    // packed file's folder (a CD, a share) offers to choose another one.
    bool IntoFolderWritable();
    bool IntoFolderWritableFor(const QString& packed);

    bool m_restores;
    QString m_strIntoFolder;
    QLineEdit* m_into = nullptr;
    QPushButton* m_intoBrowse = nullptr;
};

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* owner);
    QPushButton* OkButton() const { return m_ok; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QPushButton* m_ok;
};
