#include "commandcatalogue.h"

#include <cstring>

namespace {
struct CommandText
{
    const char *context;
    const char *source;
    const char *english;
};

const CommandText CommandOnlyTexts[] = {
    {"UpgradeProcess", "升级错误：Flash错误，请重启设备再次升级！",
     "Upgrade error: Flash error, please restart the device and upgrade again!"},
};
} // namespace

bool CommandCatalogue::load()
{
    return QTranslator::load(QStringLiteral(":lang_en.qm"));
}

QString CommandCatalogue::translate(const char *context, const char *sourceText, const char *disambiguation,
                                    int n) const
{
    for (const CommandText &text : CommandOnlyTexts) {
        if (context && sourceText && std::strcmp(context, text.context) == 0
            && std::strcmp(sourceText, text.source) == 0)
            return QString::fromUtf8(text.english);
    }
    return QTranslator::translate(context, sourceText, disambiguation, n);
}
