// How a stored call is named and told outside the process (the web
// interface's JSON, the webhook): its identity in the store, its type in
// words, its length in seconds.
//
// A call is named by its identity in the store, never by its position in
// the latest-call list: "YYYYMMDD-N" is record N of the day folder
// "\Data\Log\YYYY\MM\DD\", so a call deleted or marked heard is always the
// one the owner saw, however the list moved meanwhile.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lw {

// The identity of record `record_number` of `day_folder`; empty when the
// folder is not a day folder "\Data\Log\YYYY\MM\DD\" (any letter case).
std::string CallId(std::string_view day_folder, int64_t record_number);
// The day folder ("\Data\Log\YYYY\MM\DD\") and record number of an
// identity; false for any other text (CallId gives the identity back).
bool ParseCallId(std::string_view id, std::string& day_folder,
                 int64_t& record_number);

// Where the web interface answers for the stored calls, and the address
// below it of a call's recording ("/api/calls/<id>/recording"), appended to
// `out` (a host and port, or nothing).
inline constexpr std::string_view kCallsAddress = "/api/calls";
void AppendRecordingAddress(std::string& out, std::string_view id);

// "message", "recorded call", "missed", "blocked", "outgoing" for the stored
// type codes; "unknown" for any other.
std::string_view TypeWords(std::string_view code, bool blocked);

// Seconds of a stored length "H:MM:SS" (0 when it is not one).
int64_t LengthSeconds(std::string_view length);

}  // namespace lw
