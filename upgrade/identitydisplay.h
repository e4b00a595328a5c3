#ifndef IDENTITYDISPLAY_H
#define IDENTITYDISPLAY_H

#include <QString>

// How the device's own texts and temperature are shown to a user, in the
// window and in the command's text output: the device is not trusted to
// send printable text or a possible temperature.
namespace IdentityDisplay {

// A chip's temperature outside this range (°C) is no reading but garbage.
constexpr int LowestChipTemperature = -55;
constexpr int HighestChipTemperature = 150;
// Shown for a temperature that cannot be.
const QLatin1String UnknownTemperature("--");
// Shown in place of each control character (a line break would split a
// label or an output line): the mark that undecodable bytes get too.
constexpr QChar ControlPlaceholder = QChar::ReplacementCharacter;

// The device's text with every control character replaced.
QString text(const QString &deviceText);
bool isPlausibleTemperature(int celsius);
// The number, or UnknownTemperature.
QString temperature(int celsius);

} // namespace IdentityDisplay

#endif // IDENTITYDISPLAY_H
