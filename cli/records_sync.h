// SPDX-License-Identifier: MIT
// `zeltoctl records status` and `records sync`: the queue of records waiting for a line's
// shared store, and sending it now.
#pragma once

#include "cli/commands.h"
#include "cli/record_store.h"

namespace zelto::cli {

// How many records wait, the oldest, whether the server answers now and why not. 0 when the
// server answers (or the store sends nowhere), 1 when it does not.
int CmdRecordsStatus(Context& ctx, RecordStore& store);
// Sends every waiting record now. 0 when all went, 1 (with why) when they could not.
int CmdRecordsSync(Context& ctx, RecordStore& store);

}  // namespace zelto::cli
