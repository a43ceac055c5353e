// The Pack and Unpack dialogs and the About box.
//
// Each dialog is laid out in dialog units of its font, like the form, and follows the same
// life: the members go into the controls when it opens (OnInitDialog), come back at OK
// (DoDataExchange with save), and OK closes the dialog only when the named file opens.
#pragma once

#include <QDialog>
#include <QString>

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

class CPackProjectDlg : public QDialog {
    Q_OBJECT
public:
    explicit CPackProjectDlg(QWidget* owner);

    void SetFileName(const QString& name) { m_strFileName = name; }
    QString GetFileName() const { return m_strFileName; }
    int IsSeparateFile() const { return m_bSeparateFile; }
    int GetVolumeSize() const { return VolumeSizeForIndex(m_nDiskSizeIndex); }

    QLineEdit* FileNameField() const { return m_fileName; }
    QPushButton* BrowseButton() const { return m_browse; }
    QCheckBox* SeparateFileBox() const { return m_separateFile; }
    QComboBox* DiskSizeList() const { return m_diskSize; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancel; }

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnInitDialog();
    bool DoDataExchange(bool save);
    void OnSeparateFile();
    void OnChangeFileName();
    void OnBrowse();
    void OnDialogHelp();

    QString m_strFileName;
    int m_bSeparateFile = 0;
    int m_nDiskSizeIndex = -1;

    QLineEdit* m_fileName;
    QPushButton* m_browse;
    QCheckBox* m_separateFile;
    QComboBox* m_diskSize;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    bool m_initialised = false;
};

class CUnpackProjectDlg : public QDialog {
    Q_OBJECT
public:
    explicit CUnpackProjectDlg(QWidget* owner);

    void SetFileName(const QString& name) { m_strFileName = name; }
    QString GetFileName() const { return m_strFileName; }

    QLineEdit* FileNameField() const { return m_fileName; }
    QPushButton* BrowseButton() const { return m_browse; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancel; }

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnInitDialog();
    bool DoDataExchange(bool save);
    void OnChangeFileName();
    void OnBrowse();
    void OnDialogHelp();

    QString m_strFileName;

    QLineEdit* m_fileName;
    QPushButton* m_browse;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    bool m_initialised = false;
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
