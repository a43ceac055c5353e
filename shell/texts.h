// Texts of the window from the catalogue, as Qt strings.
#pragma once

#include <QFont>
#include <QString>

// The catalogue's text with that id in the current language, its "\r\n" turned into "\n".
QString Text(unsigned id);
// A menu or label text without its mnemonic: "&File Name" gives "File Name", and a Japanese
// "ﾌｧｲﾙ名(&F)" gives "ﾌｧｲﾙ名". For accessible names, which have no keys of their own.
QString WithoutMnemonic(const QString& text);
// A command's string holds "prompt\ntooltip": the prompt for the status bar, the tooltip for
// the toolbar. A string without "\n" is the prompt alone and serves as the tooltip too.
QString PromptOf(unsigned id);
QString TooltipOf(unsigned id);
// A chooser filter written "Label|pattern|Label|pattern||" as a Qt name filter list
// ("Label (pattern);;Label (pattern)").
QString FilterFromCatalogue(unsigned id);
QString FilterToQt(const QString& filter);
// The font of the form and the dialogs: an 8-point sans serif, or for Japanese a 10-point
// Japanese gothic face (Noto Sans CJK JP stands in for the face the dialogs were drawn with).
QFont DialogFont();

class QCoreApplication;
// Qt's own texts (file chooser, edit menus) in the language of the catalogue, where Qt's
// translations are installed. Call once, after the application object exists.
void InstallQtTranslations(QCoreApplication& app);
