#include "callstore/call_wrapup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "callstore/file_io.h"
#include "devices/wave.h"
#include "journal/journal.h"
#include "journal/regional.h"

namespace lw {

namespace {

std::string ErrnoText() {
  return std::error_code(errno, std::generic_category()).message();
}

}  // namespace

std::string CallNotePath(const CurrentCall& call) {
  if (call.info.message_path.empty()) return {};
  return call.day_folder + call.info.message_path +
         std::string(kCallNoteSuffix);
}

bool NoteCallInProgress(const CurrentCall& call, int32_t device_index,
                        Journal& journal) {
  const std::string path = CallNotePath(call);
  if (path.empty()) return false;
  const CallRecord record = CallRecordOf(call, device_index);
  const bool ok =
      ReplaceFile(path, call.day_folder + kCallNoteTemp,
                  std::string_view(record.bytes(), CallRecord::kSize));
  if (!ok) {
    const std::string reason = ErrnoText();
    journal.LogSys(
        "The call in progress cannot be noted in " + path + ": " + reason, 0,
        "NoteCallInProgress");
  }
  return ok;
}

CallRecord CallRecordOf(const CurrentCall& call, int32_t device_index) {
  const CallInfo& info = call.info;
  CallRecord record{};
  PutField(record.date, info.date);
  PutField(record.caller_name, info.caller_name);
  PutField(record.caller_number, info.caller_number);
  PutField(record.time, info.time);
  PutField(record.line, std::to_string(device_index));
  PutField(record.read_mark, "0");
  PutField(record.description, call.description);
  PutField(record.contact_digit, std::to_string(call.contact_digit));
  PutField(record.call_type, TrimField(info.call_type));
  PutField(record.length, info.length);
  return record;
}

CallRecord BuildCallRecord(CurrentCall& call, int32_t device_index,
                           int32_t list_rec_more_then, Wave& wave) {
  CallInfo& info = call.info;
  CallRecord record = CallRecordOf(call, device_index);

  const std::string_view type = TrimField(info.call_type);
  // A call without a kept recording is stored as incoming ("0") unless the
  // desktop application placed it, which keeps it an outgoing call ("1").
  const bool outgoing =
      type == kCallTypeOutgoing || type == kCallTypeOutgoingRecorded;
  std::string stored(outgoing ? kCallTypeOutgoing : kCallTypeIncoming);
  if (IsMessageType(type)) {
    WaveFileInfo file{};
    // A recording that cannot be read counts as 0 seconds long.
    if (wave.GetFileInfo(call.day_folder + info.message_path, file) != 0)
      file.seconds = 0;
    const bool kept = type == kCallTypeVoiceMessage
                          ? file.seconds >= 2
                          : file.seconds > list_rec_more_then;
    if (kept) {
      info.length = wave.SecondsToText(file.seconds);
      stored.assign(type);
    } else {
      info.call_type = stored;
    }
  }
  PutField(record.call_type, stored);
  PutField(record.length, info.length);
  return record;
}

WrapUpResult SaveFinishedCall(CallStore& store, CurrentCall& call,
                              int32_t device_index,
                              const WrapUpOptions& options, bool skip_latest,
                              Wave& wave) {
  WrapUpResult result;
  result.record =
      BuildCallRecord(call, device_index, options.list_calls_longer_than, wave);
  result.stored_type = FieldText(result.record.call_type);
  // The day folder of the date the call started.
  if (auto date = ParseShortDate(FieldText(result.record.date))) {
    result.day_folder = DayFolderText(*date);
  } else {
    result.day_folder = DayFolderText(store.clock().Now());
  }
  const std::string note = CallNotePath(call);
  if (options.list_messages_only && !IsMessageType(result.stored_type)) {
    if (!note.empty()) ::unlink(note.c_str());
    return result;
  }
  // A note that could not be written is made by the store where the call
  // cannot be stored.
  const bool noted = !note.empty() && ::access(note.c_str(), F_OK) == 0;
  const CallStore::Stored stored = store.StoreCall(
      result.record, result.day_folder, skip_latest, noted ? note : "");
  result.record_number = stored.record_number;
  result.saved = stored.record_number != 0;
  result.pending = stored.pending;
  return result;
}

}  // namespace lw
