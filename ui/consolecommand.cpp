#include "consolecommand.h"

#include <QStringList>

namespace {
constexpr int DigitsPerByte = 2;

bool isHexDigit(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
           || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
           || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

QStringList tokensOf(const QString &text)
{
    QStringList tokens;
    QString token;
    for (const QChar c : text) {
        if (!c.isSpace()) {
            token += c;
        } else if (!token.isEmpty()) {
            tokens.append(token);
            token.clear();
        }
    }
    if (!token.isEmpty())
        tokens.append(token);
    return tokens;
}
} // namespace

bool ConsoleCommand::parse(const QString &text, QByteArray *bytes, QString *error)
{
    const QStringList tokens = tokensOf(text);
    if (tokens.isEmpty()) {
        *error = tr("命令中没有字节：请输入十六进制字节，如 4F 54");
        return false;
    }
    for (const QString &token : tokens) {
        for (int i = 0; i < token.size(); ++i) {
            if (isHexDigit(token.at(i)))
                continue;
            // A character outside the basic plane is named whole, not half of it.
            const int width = token.at(i).isHighSurrogate() && i + 1 < token.size() ? 2 : 1;
            *error = tr("命令无效：%1 中的 %2 不是十六进制数字（0-9、A-F）")
                         .arg(token, token.mid(i, width));
            return false;
        }
        if (token.size() % DigitsPerByte != 0) {
            *error = tr("命令无效：%1 的位数为奇数，每个字节需要两位十六进制数字").arg(token);
            return false;
        }
    }
    *bytes = QByteArray::fromHex(tokens.join(QString()).toLatin1());
    return true;
}
