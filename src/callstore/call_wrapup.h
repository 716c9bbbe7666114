// The end of a call: the current call becomes a CallRecord and is stored.
// Both wrap-up paths of the line controller (telephony and modem) use it.
#pragma once

#include <cstdint>
#include <string>

#include "callstore/call_record.h"
#include "callstore/call_store.h"

namespace lw {

class Journal;
class Wave;

// The note of a call in progress (kCallNoteSuffix): its native path for the
// current call; empty when the call has no
// recording name.
std::string CallNotePath(const CurrentCall& call);

// Notes the current call, whose recording has just started, beside its
// recording. The note is replaced atomically (written to a temporary file,
// flushed, renamed), so it is whole or absent. A failure is journalled;
// false then.
bool NoteCallInProgress(const CurrentCall& call, int32_t device_index,
                        Journal& journal);

// The line options the wrap-up consults.
struct WrapUpOptions {
  int32_t list_calls_longer_than = 0;  // txtListRecMoreThen
  bool list_messages_only = false;     // chkListMessagesOnly
};

struct WrapUpResult {
  CallRecord record;        // as built (also when not stored)
  std::string stored_type;  // the record's call type, trimmed
  std::string day_folder;   // relative: "\Data\Log\YYYY\MM\DD\"
  bool saved = false;       // appended to the day's data file
  bool pending = false;     // the record or its list entry not written yet
  int64_t record_number = 0;
};

// The record of the current call as it stands: every field from the call,
// its type as it is and its length text, read mark "0".
CallRecord CallRecordOf(const CurrentCall& call, int32_t device_index);

// Builds the record of the current call. A call with a recording keeps its
// type only when the recording is long enough: a voice message ("2") of 2
// seconds or more, a recorded call ("3", "4") of more than
// `list_rec_more_then` seconds; the length field then gets the wave
// control's text for it. Otherwise the record (and `call`'s type) says no
// recording was kept: "0", or "1" for an outgoing call. A recording judged
// too short stays on disk. `device_index` is the line's telephony device.
CallRecord BuildCallRecord(CurrentCall& call, int32_t device_index,
                           int32_t list_rec_more_then, Wave& wave);

// Builds the record and stores it: with list_messages_only only calls whose
// stored type is neither "0" nor "1"; `skip_latest` (a remote-access call)
// keeps it out of the latest-call list. The note of the call in progress is
// removed once the call is stored whole (or the rules say it is not
// stored); it stays while the record or its list entry could not be
// written, so the next start stores it (CallStore::StoreCall).
WrapUpResult SaveFinishedCall(CallStore& store, CurrentCall& call,
                              int32_t device_index,
                              const WrapUpOptions& options, bool skip_latest,
                              Wave& wave);

}  // namespace lw
