#include "identitydisplay.h"

namespace IdentityDisplay {

QString text(const QString &deviceText)
{
    QString shown = deviceText;
    for (QChar &c : shown) {
        if (c.category() == QChar::Other_Control)
            c = ControlPlaceholder;
    }
    return shown;
}

bool isPlausibleTemperature(int celsius)
{
    return celsius >= LowestChipTemperature && celsius <= HighestChipTemperature;
}

QString temperature(int celsius)
{
    return isPlausibleTemperature(celsius) ? QString::number(celsius) : QString(UnknownTemperature);
}

} // namespace IdentityDisplay
