#ifndef FLASHRUN_H
#define FLASHRUN_H

#include <QString>

// tavio-flash's upgrade as its main runs it, `tavio-flash upgrade FILE --port
// P --vid V --clock-factor N` (its library, plain output), with the system
// listing no ports: the device is reached by its path alone.
namespace Bench {

struct FlashOutcome
{
    bool succeeded = false;
    double seconds = 0; // from the command's start to its exit code
    QString errors;     // what it wrote to its error stream
};

FlashOutcome runFlashUpgrade(const QString &imagePath, const QString &portPath, quint16 vid, int clockFactor);

} // namespace Bench

#endif // FLASHRUN_H
