// Regional formats: the one place every date and time text of the system
// comes from. Short date "MM/dd/yyyy", long time "HH:mm:ss",
// "Long Date" "dddd, MMMM d, yyyy", "Medium Time" "hh:mm AM/PM".
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "devices/clock.h"

namespace lw {

std::string ShortDateText(const LocalDateTime& t);   // 03/15/2005
std::string LongTimeText(const LocalDateTime& t);    // 10:15:30
std::string LongDateText(const LocalDateTime& t);    // Tuesday, March 15, 2005
std::string MediumTimeText(const LocalDateTime& t);  // 10:15 AM

// Parse the short date and long time forms back (as stored in call records
// and journal names). Lenient about leading zeros; nullopt when not a date
// or time.
std::optional<LocalDateTime> ParseShortDate(std::string_view text);
std::optional<LocalDateTime> ParseLongTime(std::string_view text);
// A time of day as the desktop application writes one: the long time form
// or the same without seconds ("08:00", "6:30 PM"). Only the time fields are
// set; nullopt when the text is not a time of day.
std::optional<LocalDateTime> ParseTimeOfDay(std::string_view text);

// The file-name stamp: the date text with each "/" replaced by "-" (dashes)
// or dropped; when the time text is not empty, "_" (dashes only) and the time
// text with each ":" replaced by "-" (dashes) or dropped. Other characters,
// blanks included, are copied unchanged.
std::string MakeFileStamp(std::string_view date, std::string_view time,
                          bool dashes);

}  // namespace lw
