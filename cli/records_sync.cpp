// SPDX-License-Identifier: MIT
#include "cli/records_sync.h"

namespace zelto::cli {

int CmdRecordsStatus(Context& ctx, RecordStore& store) {
  const auto status = store.Shipping(true);
  if (!status) {
    ctx.out << "records: " << store.Location() << " (this machine's own; nothing to send)\n";
    return kExitOk;
  }
  ctx.out << "server: " << store.Location() << "\n"
          << "reachable: " << (status->reachable ? "yes" : "no") << "\n"
          << "waiting: " << status->unshipped << " record(s)";
  if (!status->oldest.empty()) ctx.out << ", the oldest from " << status->oldest;
  ctx.out << "\n";
  if (!status->last_error.empty()) ctx.out << "last error: " << status->last_error << "\n";
  return status->reachable ? kExitOk : kExitFailure;
}

int CmdRecordsSync(Context& ctx, RecordStore& store) {
  std::string error;
  const auto sent = store.SyncNow(error);
  if (!sent) {
    ctx.err << "zeltoctl: records sync: " << error << "\n";
    return kExitFailure;
  }
  if (!ctx.quiet) ctx.out << "sent " << *sent << " record(s) to " << store.Location() << "\n";
  return kExitOk;
}

}  // namespace zelto::cli
