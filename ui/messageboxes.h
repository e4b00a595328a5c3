#ifndef MESSAGEBOXES_H
#define MESSAGEBOXES_H

#include <QMessageBox>
#include <functional>

// Every message box of the program goes through here, so tests can answer
// them instead of blocking on a modal dialog.
class MessageBoxes
{
public:
    enum class Kind { Warning, Question };

    // A modal warning box with one OK button.
    static void warning(QWidget *parent, const QString &title, const QString &text);

    // A modal question with the warning icon and Yes and No, Yes being both
    // the default and the escape button. True when the answer is Yes.
    static bool question(QWidget *parent, const QString &title, const QString &text);

    // Tests install a handler that answers every box in place of the user.
    using Handler = std::function<QMessageBox::StandardButton(Kind kind, const QString &title,
                                                              const QString &text)>;
    static void setHandler(Handler handler);

private:
    static Handler &handler();
};

#endif // MESSAGEBOXES_H
