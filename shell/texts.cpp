#include "shell/texts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QTranslator>

#include "platform/strings.h"

QString Text(unsigned id)
{
    QString text = QString::fromStdString(LoadString(id));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

QString WithoutMnemonic(const QString& text)
{
    QString plain = text;
    plain.remove(QRegularExpression(QStringLiteral("\\(&.\\)")));
    plain.remove(QLatin1Char('&'));
    return plain;
}

QString PromptOf(unsigned id)
{
    const QString text = Text(id);
    return text.section(QLatin1Char('\n'), 0, 0);
}

QString TooltipOf(unsigned id)
{
    const QString text = Text(id);
    const qsizetype newline = text.indexOf(QLatin1Char('\n'));
    return newline < 0 ? text : text.mid(newline + 1);
}

QString FilterToQt(const QString& filter)
{
    // "A|a|B|b||": pairs of label and pattern; the empty fields at the end close the list.
    const QStringList fields = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < fields.size(); i += 2) {
        QString label = fields[i].trimmed();
        const QString pattern = fields[i + 1].trimmed();
        if (label.isEmpty() && pattern.isEmpty()) {
            break;
        }
        // Qt takes the patterns from the parentheses at the end of the label, so the label's
        // own "(*.kmx)" is replaced by the real pattern list (";" separates patterns there).
        const qsizetype open = label.lastIndexOf(QLatin1Char('('));
        if (open > 0 && label.endsWith(QLatin1Char(')'))) {
            label = label.left(open).trimmed();
        }
        QString patterns = pattern;
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        entries << label + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return entries.join(QStringLiteral(";;"));
}

QString FilterFromCatalogue(unsigned id)
{
    return FilterToQt(Text(id));
}

QFont DialogFont()
{
    QFont font;
    if (CurrentLanguage() == Language::Japanese) {
        font.setFamilies({QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans CJK"),
                          QStringLiteral("IPAPGothic"), QStringLiteral("Sans Serif")});
        font.setPointSize(10);
    } else {
        font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                          QStringLiteral("Sans Serif")});
        font.setPointSize(8);
    }
    font.setStyleHint(QFont::SansSerif);
    return font;
}

void InstallQtTranslations(QCoreApplication& app)
{
    if (CurrentLanguage() != Language::Japanese) {
        return;
    }
    auto* translator = new QTranslator(&app);
    if (translator->load(QStringLiteral("qtbase_ja"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
    } else {
        delete translator;
    }
}
