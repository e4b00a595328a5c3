#ifndef TRANSFERMEMORY_H
#define TRANSFERMEMORY_H

#include <QDir>
#include <QString>

namespace Bench {

// The large image of the memory runs; the small one is the transfer runs' image.
constexpr qint64 LargeImageMiB = 256;

// The memory runs: the program side in a child process of this executable,
// the device in the simulator executable.
inline const QString MemoryRunOption = QStringLiteral("memory-run");
inline const QString LinkOption = QStringLiteral("link");

// The child's side: upgrades the image through the simulator at `linkPath`
// and prints its own peak resident size.
int memoryRun(const QString &imagePath, const QString &linkPath);
// The parent's side: the small and the large image, each in fresh processes,
// printed as a table with the memory target; true when it is met.
bool reportMemory(const QDir &dir);

} // namespace Bench

#endif // TRANSFERMEMORY_H
