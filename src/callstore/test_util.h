// Helpers shared by the call store tests: files under a temporary AppPath.
#pragma once

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "callstore/call_record.h"
#include "callstore/contacts.h"
#include "temp_dir.h"

namespace lw::testing {

// A record as the wrap-up writes it, with the fields a test cares about.
inline CallRecord MakeRecord(std::string_view name, std::string_view number,
                             std::string_view date, std::string_view type,
                             std::string_view read_mark = "0",
                             std::string_view time = "10:15:30") {
  CallRecord r{};
  PutField(r.contact_digit, "0");
  PutField(r.call_type, type);
  PutField(r.caller_name, name);
  PutField(r.caller_number, number);
  PutField(r.date, date);
  PutField(r.time, time);
  PutField(r.length, "0:00:07");
  PutField(r.line, "0");
  PutField(r.read_mark, read_mark);
  PutField(r.description, "Incoming call");
  return r;
}

// A contact as the desktop application writes it: every field blank-padded.
inline ContactRecord MakeContact(std::string_view name,
                                 std::string_view caller_name,
                                 std::string_view number) {
  ContactRecord c;
  std::memset(c.bytes(), ' ', ContactRecord::kSize);
  PutField(c.name, name);
  PutField(c.caller_name, caller_name);
  PutField(c.caller_number, number);
  return c;
}

inline void WriteContacts(const std::string& app_path,
                          const std::vector<ContactRecord>& contacts) {
  std::string data;
  for (const ContactRecord& c : contacts)
    data.append(c.bytes(), ContactRecord::kSize);
  WriteFile(app_path + "/Data/Contactes", data);
}

}  // namespace lw::testing
