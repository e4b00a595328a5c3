#ifndef CONSOLECOMMAND_H
#define CONSOLECOMMAND_H

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

// The console's typed command: hex bytes in tokens separated by whitespace,
// each token an even number of hex digits ("4F 54 52 41", "4F545241",
// "4F54 5241"). A line that is not wholly of that form is refused rather
// than sent half-decoded.
class ConsoleCommand
{
    Q_DECLARE_TR_FUNCTIONS(ConsoleCommand)

public:
    // True with the decoded `bytes`; false with `error` saying what is wrong
    // and naming the offending token and character.
    static bool parse(const QString &text, QByteArray *bytes, QString *error);
};

#endif // CONSOLECOMMAND_H
