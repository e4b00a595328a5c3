#ifndef TRANSFERREPORT_H
#define TRANSFERREPORT_H

#include "transferrun.h"

namespace Bench {

// One table of transfer results under `title`; false when a result is not valid.
bool printTransferTable(const QString &title, const QList<TransferResult> &results);
// The throughput target of each result; true when every one is met.
bool printTransferVerdicts(const QList<TransferResult> &results);

} // namespace Bench

#endif // TRANSFERREPORT_H
