#include "messageboxes.h"

MessageBoxes::Handler &MessageBoxes::handler()
{
    static Handler installed;
    return installed;
}

void MessageBoxes::setHandler(Handler handler)
{
    MessageBoxes::handler() = std::move(handler);
}

void MessageBoxes::warning(QWidget *parent, const QString &title, const QString &text)
{
    if (handler()) {
        handler()(Kind::Warning, title, text);
        return;
    }
    QMessageBox::warning(parent, title, text, QMessageBox::Ok);
}

bool MessageBoxes::question(QWidget *parent, const QString &title, const QString &text)
{
    if (handler())
        return handler()(Kind::Question, title, text) == QMessageBox::Yes;
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}
