// Calls cut off by a crash, found again at start-up.
//
// Every recording that starts leaves a note of its call beside it
// (NoteCallInProgress), and the wrap-up removes the note once the call is
// stored. A note that is still there when the process starts belongs to a
// call whose wrap-up never ran: the process died during the call. Its
// recording is repaired up to the last block written and the call is stored
// as the wrap-up would have stored it, at the head of the latest-call list.
//
// Recordings that neither a stored call nor a note names (left by an older
// version, or by a call that the "messages only" rule did not store) are left
// alone; each is journalled once, and the ones already journalled are kept
// in "\Data\Unlisted" so a later start does not journal them again.
#pragma once

#include <string_view>

#include "callstore/call_store.h"
#include "callstore/call_wrapup.h"

namespace lw {

class Journal;
class Wave;

inline constexpr std::string_view kUnlistedRecordings = "\\Data\\Unlisted";

// Stores every call whose note was left behind under "\Data\Log\" (journal
// "Recovered interrupted call: " + the recording's path), then journals the
// recordings without a stored call that were not journalled before. `store`
// carries the latest-call list limit; `options` are the wrap-up's line
// options. Runs before the line opens, so no call is in progress.
void RecoverInterruptedCalls(CallStore& store, const WrapUpOptions& options,
                             Wave& wave, Journal& journal);

}  // namespace lw
