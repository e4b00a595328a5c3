#ifndef COMMANDCATALOGUE_H
#define COMMANDCATALOGUE_H

#include <QTranslator>

// The command's English: the window's English catalogue, and the texts the
// window keeps in Chinese in both languages (a device hint known by its
// Chinese text), which the command's English output must not carry.
class CommandCatalogue : public QTranslator
{
public:
    // Loads the window's English catalogue; false when it is missing.
    bool load();

    QString translate(const char *context, const char *sourceText, const char *disambiguation = nullptr,
                      int n = -1) const override;
    bool isEmpty() const override { return false; }
};

#endif // COMMANDCATALOGUE_H
