// The Pack, Unpack and Test dialogs and the About box, driven as a user would: proposals
// from the form, OK following the field, the checks at OK, what the job gets, the layout.
#include "tests/shell/windowfixture.h"

class DialogsTest : public QObject, protected WindowFixture {
    Q_OBJECT

private slots:
    void initTestCase() { SetUpProgram(); }
    void init() { SetUpWindow(); }
    void cleanup() { TearDownWindow(); }

    void packProposal_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("proposal");
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("blanks only") << "   "
                                     << "";
        QTest::newRow("packed file with blanks around") << "  /data/set/deck.0KX  "
                                                        << "/data/set/deck.kmx";
        QTest::newRow("tabs and line end") << "\t/data/deck.kmx\n"
                                           << "/data/deck.kmx";
        QTest::newRow("no extension") << "/data/set/deck"
                                      << "/data/set/deck.kmx";
        QTest::newRow("folder only") << "/data/set/"
                                     << "/data/set/.kmx";
        QTest::newRow("dot in a folder name") << "/data/a.b/deck"
                                              << "/data/a.b/deck.kmx";
    }

    void packProposal()
    {
        QFETCH(QString, field);
        QFETCH(QString, proposal);
        checkProposal(ID_PACK_PROJECT, field, proposal);
    }

    void unpackProposal_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("proposal");
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("full path of a packed file") << "/data/set/deck.0KX"
                                                    << "/data/set/deck.0KX";
        QTest::newRow("blanks around") << "  /data/set/deck.0KX "
                                       << "/data/set/deck.0KX";
        QTest::newRow("second kind of packed file") << "/data/deck.0rv"
                                                    << "/data/deck.0rv";
        QTest::newRow("project file after a pack") << "/data/deck.kmx"
                                                   << "/data/deck.0KX";
        QTest::newRow("project file after an unpack") << "/data/deck.KMX"
                                                      << "/data/deck.0KX";
        QTest::newRow("second kind of project file") << "/data/deck.RVN"
                                                     << "/data/deck.0RV";
        QTest::newRow("other extension kept") << "/data/deck.1KX"
                                              << "/data/deck.1KX";
        QTest::newRow("no extension") << "/data/deck"
                                      << "/data/deck";
        QTest::newRow("name without a folder") << "deck.0KX"
                                               << "deck.0KX";
        QTest::newRow("folder only") << "/data/set/"
                                     << "/data/set/";
    }

    void unpackProposal()
    {
        QFETCH(QString, field);
        QFETCH(QString, proposal);
        // Test names its packed file as Unpack does.
        checkProposal(ID_UNPACK_PROJECT, field, proposal);
        checkProposal(ID_TEST_PACKED, field, proposal);
    }

    // OK is available exactly while the field holds some text, blanks included.
    void okFollowsTheField_data()
    {
        QTest::addColumn<int>("command");
        QTest::newRow("Pack") << int(ID_PACK_PROJECT);
        QTest::newRow("Unpack") << int(ID_UNPACK_PROJECT);
    }

    void okFollowsTheField()
    {
        QFETCH(int, command);
        QList<bool> states;
        runCommand(command, [&](QDialog& dialog) {
            auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("fileName"));
            auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("ok"));
            states << ok->isEnabled();
            QTest::keyClicks(field, QStringLiteral("a"));
            states << ok->isEnabled();
            QTest::keyClick(field, Qt::Key_Backspace);
            states << ok->isEnabled();
            QTest::keyClicks(field, QStringLiteral("  "));
            states << ok->isEnabled();
            dialog.reject();
            return dialog.result();
        });
        QCOMPARE(states, (QList<bool>{false, true, false, true}));
    }

    void separateFileEnablesTheList()
    {
        QList<bool> enabled;
        QStringList labels;
        int keptIndex = -1;
        QLabel* label = nullptr;
        bool labelShown = false;
        QString labelText;
        runCommand(ID_PACK_PROJECT, [&](QDialog& d) {
            auto& dialog = static_cast<CPackProjectDlg&>(d);
            QComboBox* list = dialog.DiskSizeList();
            label = dialog.findChild<QLabel*>(QStringLiteral("diskSizeLabel"));
            labelShown = label != nullptr && label->isVisible() && label->buddy() == list;
            labelText = label != nullptr ? label->text() : QString();
            for (int i = 0; i < list->count(); ++i) {
                labels << list->itemText(i);
            }
            enabled << list->isEnabled();
            QTest::mouseClick(dialog.SeparateFileBox(), Qt::LeftButton);
            enabled << list->isEnabled();
            list->setCurrentIndex(3);
            QTest::mouseClick(dialog.SeparateFileBox(), Qt::LeftButton);
            enabled << list->isEnabled();
            keptIndex = list->currentIndex();
            dialog.reject();
            return dialog.result();
        });
        // Largest first, and labelled: a screen reader names the list, not its value.
        QCOMPARE(labels, (QStringList{"1.44 MB", "1.20 MB", "720 K", "360K"}));
        QVERIFY(labelShown);
        QCOMPARE(labelText, QStringLiteral("Disk si&ze"));
        QCOMPARE(enabled, (QList<bool>{false, true, false}));
        QCOMPARE(keptIndex, 3);
    }

    void sizesHandedToTheJob_data()
    {
        QTest::addColumn<bool>("separate");
        QTest::addColumn<QString>("size"); // the label chosen; empty: none
        QTest::addColumn<int>("split");
        QTest::addColumn<int>("volumeSize");
        QTest::newRow("defaults") << false << QString() << 0 << 1440000;
        QTest::newRow("720 K") << true << "720 K" << 1 << 720000;
        QTest::newRow("1.20 MB") << true << "1.20 MB" << 1 << 1200000;
        QTest::newRow("360K, then Separate File cleared") << false << "360K" << 0 << 360000;
    }

    // OK hands the choice to the job, writes the name back into the form and empties the log
    // before the job's first line.
    void sizesHandedToTheJob()
    {
        QFETCH(bool, separate);
        QFETCH(QString, size);
        QFETCH(int, split);
        QFETCH(int, volumeSize);
        QTemporaryDir folder;
        const QString project = folder.filePath(QStringLiteral("deck.kmx"));
        WriteFile(project, ProjectBytes(20000));
        m_frame->View()->FileNameField()->setText(QStringLiteral("  ") + project);
        m_frame->View()->AppendToLog(QStringLiteral("the previous job's lines\n"));

        runCommand(ID_PACK_PROJECT, [&](QDialog& d) {
            auto& dialog = static_cast<CPackProjectDlg&>(d);
            if (!size.isEmpty()) {
                QTest::mouseClick(dialog.SeparateFileBox(), Qt::LeftButton);
                SelectDiskSize(dialog, size);
                if (!separate) {
                    QTest::mouseClick(dialog.SeparateFileBox(), Qt::LeftButton);
                }
            }
            QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(WaitForJobEnd());
        QCOMPARE(m_frame->LastPackRequest().split, split != 0);
        QCOMPARE(m_frame->LastPackRequest().volumeSize, volumeSize);
        QCOMPARE(m_frame->View()->FileNameField()->text(), project);
        QVERIFY(LogText(*m_frame).startsWith(Catalogue(IDS_PACK_START)));
        QVERIFY(QFile::exists(folder.filePath(QStringLiteral("deck.0KX"))));
    }

    void nameThatDoesNotOpen_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("name");
        QTest::newRow("Pack, missing file") << int(ID_PACK_PROJECT) << "/no/such/folder/deck.kmx";
        QTest::newRow("Pack, blanks only") << int(ID_PACK_PROJECT) << "   ";
        QTest::newRow("Pack, a folder") << int(ID_PACK_PROJECT) << QDir::tempPath();
        QTest::newRow("Unpack, missing file") << int(ID_UNPACK_PROJECT) << "deck.0KX";
        QTest::newRow("Unpack, a folder") << int(ID_UNPACK_PROJECT) << QDir::tempPath();
    }

    // Message 1204 with the name; the dialog stays open with the name selected.
    void nameThatDoesNotOpen()
    {
        QFETCH(int, command);
        QFETCH(QString, name);
        QDir::setCurrent(m_folder.path());
        bool stayedOpen = false;
        QString selected;
        QWidget* dialogSeen = nullptr;
        runCommand(command, [&](QDialog& dialog) {
            dialogSeen = &dialog;
            auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("fileName"));
            field->setText(name);
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
            stayedOpen = dialog.isVisible() && dialog.result() != QDialog::Accepted;
            selected = field->selectedText();
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("cancel")),
                              Qt::LeftButton);
            return dialog.result();
        });
        QVERIFY(stayedOpen);
        QCOMPARE(selected, name);
        const std::vector<Modal::Record>& shown = Modal::Shown();
        QCOMPARE(shown.size(), size_t(2)); // the dialog, then the box
        QCOMPARE(shown[1].kind, Modal::Record::Box);
        QCOMPARE(shown[1].text, QStringLiteral("Unable to open the file '%1'.").arg(name));
        QCOMPARE(shown[1].type, unsigned(MB_OK | MB_ICONEXCLAMATION));
        QCOMPARE(shown[1].owner, dialogSeen);
        QCOMPARE(RunningWorkerThreads(), 0);
    }

    void cancelChangesNothing_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<bool>("escape");
        QTest::newRow("Pack, Cancel") << int(ID_PACK_PROJECT) << false;
        QTest::newRow("Pack, Escape") << int(ID_PACK_PROJECT) << true;
        QTest::newRow("Unpack, Cancel") << int(ID_UNPACK_PROJECT) << false;
        QTest::newRow("Unpack, Escape") << int(ID_UNPACK_PROJECT) << true;
    }

    void cancelChangesNothing()
    {
        QFETCH(int, command);
        QFETCH(bool, escape);
        QTemporaryDir folder;
        const QString project = folder.filePath(QStringLiteral("deck.kmx"));
        WriteFile(project, ProjectBytes(1000));
        m_frame->View()->FileNameField()->setText(project);
        m_frame->View()->AppendToLog(QStringLiteral("kept\n"));
        runCommand(command, [&](QDialog& dialog) {
            dialog.findChild<QLineEdit*>(QStringLiteral("fileName"))->setText(project);
            if (escape) {
                QTest::keyClick(&dialog, Qt::Key_Escape);
            } else {
                QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("cancel")),
                                  Qt::LeftButton);
            }
            return dialog.result();
        });
        QCOMPARE(m_frame->View()->FileNameField()->text(), project);
        QCOMPARE(LogText(*m_frame), QStringLiteral("kept\n"));
        QCOMPARE(RunningWorkerThreads(), 0);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files),
                 QStringList{QStringLiteral("deck.kmx")});
    }

    void browseStartsInDatabaseFolder_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("filter");
        // Every filter its own label, and the last one shows every file.
        QTest::newRow("Pack") << int(ID_PACK_PROJECT) << "Project Files (*.kmx);;All Files (*)";
        QTest::newRow("Unpack") << int(ID_UNPACK_PROJECT)
                                << "Packed Files (*.0kx *.0rv);;Packed .kmx Files (*.0kx);;"
                                   "Packed .rvn Files (*.0rv);;All Files (*)";
    }

    void browseStartsInDatabaseFolder()
    {
        QFETCH(int, command);
        QFETCH(QString, filter);
        const QString database = GetModuleDirectory() + QStringLiteral("database");
        QVERIFY(QDir().mkpath(database));
        const QString chosen = m_folder.filePath(QStringLiteral("picked.kmx"));
        Modal::SetNextFileName(chosen);
        Modal::SetNextFileName(QString()); // the second Browse is cancelled
        QStringList fields;
        bool okEnabled = false;
        runCommand(command, [&](QDialog& dialog) {
            auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("fileName"));
            auto* browse = dialog.findChild<QPushButton*>(QStringLiteral("browse"));
            QTest::mouseClick(browse, Qt::LeftButton);
            fields << field->text();
            okEnabled = dialog.findChild<QPushButton*>(QStringLiteral("ok"))->isEnabled();
            QTest::mouseClick(browse, Qt::LeftButton);
            fields << field->text();
            dialog.reject();
            return dialog.result();
        });
        QCOMPARE(fields, (QStringList{chosen, chosen}));
        QVERIFY(okEnabled);
        const Modal::Record& chooser = Modal::Shown().at(1);
        QCOMPARE(chooser.kind, Modal::Record::Chooser);
        QCOMPARE(chooser.text, database + QLatin1Char('|'));
        QCOMPARE(chooser.filter, filter);
        // The second Browse opens where the first choice was; the current folder stays.
        QCOMPARE(Modal::Shown().at(2).text, m_folder.path() + QLatin1Char('|'));
        QCOMPARE(QDir::currentPath(), m_startFolder);
        QDir(database).removeRecursively();
    }

    // Every text of the three dialogs shows whole, inside its dialog, in both languages, and no
    // two controls shown cover each other.
    void dialogTextsFit_data()
    {
        QTest::addColumn<int>("language");
        QTest::newRow("English") << int(Language::English);
        QTest::newRow("Japanese") << int(Language::Japanese);
    }

    void dialogTextsFit()
    {
        QFETCH(int, language);
        SetLanguage(static_cast<Language>(language));
        CPackProjectDlg pack(m_frame.get());
        CUnpackProjectDlg unpack(m_frame.get());
        CAboutDlg about(m_frame.get());
        for (QDialog* dialog : {static_cast<QDialog*>(&pack), static_cast<QDialog*>(&unpack),
                                static_cast<QDialog*>(&about)}) {
            const QList<QWidget*> children =
                dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
            for (QWidget* child : children) {
                const QString where = dialog->objectName() + QLatin1Char('/') + child->objectName();
                QVERIFY2(dialog->rect().contains(child->geometry()), qPrintable(where));
                for (QWidget* other : children) {
                    QVERIFY2(other == child || child->isHidden() || other->isHidden() ||
                                 !child->geometry().intersects(other->geometry()),
                             qPrintable(where + QStringLiteral(" covers ") + other->objectName()));
                }
                QString text;
                int room = child->width();
                if (auto* label = qobject_cast<QLabel*>(child)) {
                    if (label->wordWrap() || label->text().isEmpty()) {
                        continue;
                    }
                    text = label->text();
                } else if (auto* button = qobject_cast<QAbstractButton*>(child)) {
                    text = button->text();
                    room -= qobject_cast<QCheckBox*>(child) != nullptr ? 24 : 6;
                } else {
                    continue;
                }
                text.remove(QLatin1Char('&'));
                QVERIFY2(child->fontMetrics().horizontalAdvance(text) <= room,
                         qPrintable(where + QStringLiteral(" clips \"") + text + QLatin1Char('"')));
                QVERIFY2(child->fontMetrics().height() <= child->height(), qPrintable(where));
            }
        }
    }

    // OK and Cancel on one row, the same height, in both dialogs and both languages; every
    // control of the dialogs and the help viewer has an accessible name.
    void dialogButtonsAlignedAndNamed_data()
    {
        QTest::addColumn<int>("language");
        QTest::newRow("English") << int(Language::English);
        QTest::newRow("Japanese") << int(Language::Japanese);
    }

    void dialogButtonsAlignedAndNamed()
    {
        QFETCH(int, language);
        SetLanguage(static_cast<Language>(language));
        CPackProjectDlg pack(m_frame.get());
        CUnpackProjectDlg unpack(m_frame.get());
        CAboutDlg about(m_frame.get());
        CHelpViewer viewer(m_frame.get());
        for (CProjectFileDlg* dialog :
             {static_cast<CProjectFileDlg*>(&pack), static_cast<CProjectFileDlg*>(&unpack)}) {
            QCOMPARE(dialog->OkButton()->geometry().top(),
                     dialog->CancelButton()->geometry().top());
            QCOMPARE(dialog->OkButton()->height(), dialog->CancelButton()->height());
        }
        for (QWidget* window : {static_cast<QWidget*>(&pack), static_cast<QWidget*>(&unpack),
                                static_cast<QWidget*>(&about), static_cast<QWidget*>(&viewer)}) {
            for (QWidget* child : window->findChildren<QWidget*>()) {
                if (child->focusPolicy() == Qt::NoFocus || qobject_cast<QScrollBar*>(child) ||
                    child->parentWidget() != window) {
                    continue;
                }
                QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(child);
                const QString name = accessible->text(QAccessible::Name);
                QVERIFY2(!name.isEmpty() && !name.contains(QLatin1Char('&')),
                         qPrintable(window->objectName() + QLatin1Char('/') + child->objectName()));
            }
        }
        if (static_cast<Language>(language) == Language::Japanese) {
            QCOMPARE(pack.FileNameField()->accessibleName(), QString::fromUtf8("ﾌｧｲﾙ名"));
            // The chooser for a missing volume speaks the language too.
            QCOMPARE(FilterFromCatalogue(IDS_FINDFILE_FILTER),
                     QString::fromUtf8("圧縮ﾌｧｲﾙ (*.?kx)"));
        }
    }

    // About shows the icon and the version at the same place next to the main window every
    // time, and closes with OK and with Escape.
    void aboutClosesWithOkAndEscape()
    {
        QList<QPoint> offsets;
        QStringList versions;
        int iconsShown = 0;
        for (bool escape : {false, true}) {
            runCommand(ID_APP_ABOUT, [&](QDialog& dialog) {
                auto* icon = dialog.findChild<QLabel*>(QStringLiteral("icon"));
                iconsShown += icon != nullptr && !icon->pixmap().isNull() ? 1 : 0;
                versions << dialog.findChild<QLabel*>(QStringLiteral("version"))->text();
                offsets << dialog.pos() - m_frame->mapToGlobal(QPoint(0, 0));
                if (escape) {
                    QTest::keyClick(&dialog, Qt::Key_Escape);
                } else {
                    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")),
                                      Qt::LeftButton);
                }
                return dialog.result();
            });
            QCOMPARE(Modal::Shown().back().kind, Modal::Record::Dialog);
        }
        QCOMPARE(iconsShown, 2);
        QCOMPARE(versions, (QStringList{"Pack Tool Version 6.2", "Pack Tool Version 6.2"}));
        QCOMPARE(offsets.size(), 2);
        QCOMPARE(offsets[0], offsets[1]);
        const DialogUnits units = DialogUnits::FromFont(QFontMetrics(DialogFont()));
        QCOMPARE(offsets[0], QPoint(units.X(34), units.Y(22)));
        QCOMPARE(m_lastResults, (QList<int>{QDialog::Accepted, QDialog::Rejected}));
    }
};

QTEST_MAIN(DialogsTest)
#include "test_dialogs.moc"
