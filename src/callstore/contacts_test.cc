#include "callstore/contacts.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "callstore/test_util.h"
#include "temp_dir.h"

namespace lw {
namespace {

using testing::MakeContact;
using testing::WriteContacts;

// Options as the line had them before the caller identification.
ContactOverlay LineOptions() {
  ContactOverlay o;
  o.detect_pick_up = o.answer_if_not_answered = o.record_message = true;
  o.greeting_file = "Default.wav";
  o.rings_to_answer = 4;
  o.show_line_control_on_call = o.show_call_on_incoming =
      o.play_sound_on_incoming = o.say_on_incoming = true;
  o.call_display_style = 2;
  o.incoming_sound = "ring.wav";
  o.incoming_text = "Call from <CALLER_NAME>";
  o.forward_by_mail = o.forward_to_app = true;
  o.mail_when = 1;
  o.mail_to = "me@example.org";
  o.app_when = 2;
  o.app_command = "notify <CALLER_NUMBER>";
  return o;
}

class ContactsTest : public ::testing::Test {
 protected:
  std::string Find(std::string_view number, ContactOverlay& o) {
    return contacts_.FindContact(number, o, found_, reader_);
  }

  lw::testing::TempDir dir_;
  Contacts contacts_{dir_.path()};
  ContactRecord found_{};
  std::map<std::string, std::string> registry_;
  std::vector<std::string> read_sections_;
  RegistryTextReader reader_ = [this](const std::string& section,
                                      const std::string& name) {
    read_sections_.push_back(section);
    auto it = registry_.find(name);
    return it == registry_.end() ? std::string() : it->second;
  };
};

TEST_F(ContactsTest, FirstMatchOnTrimmedRecordNumber) {
  // Given blanks, duplicates and padded numbers, expect the lower record to
  // win, the given number taken as it is, and no option changed by a
  // contact without choices.
  WriteContacts(dir_.path(),
                {MakeContact("", "", ""), MakeContact("First", "ANNA", "555"),
                 MakeContact("Second", "ANNA", "555"),
                 MakeContact("Padded", "BEN", "  777")});
  ContactOverlay o = LineOptions();
  EXPECT_EQ(Find("555", o), "2");
  EXPECT_EQ(FieldText(found_.name), "First");
  EXPECT_EQ(Find("777", o), "4");
  EXPECT_EQ(Find("555 ", o), "-1");
  EXPECT_EQ(Find("", o), "1");  // the all-blank record has no number
  EXPECT_EQ(o, LineOptions());

  // Matches beyond the first chunk the reader takes.
  std::vector<ContactRecord> many;
  many.reserve(200);
  for (int i = 0; i < 200; ++i)
    many.push_back(
        MakeContact("C" + std::to_string(i), "N", std::to_string(i)));
  WriteContacts(dir_.path(), many);
  EXPECT_EQ(Find("150", o), "151");
}

TEST_F(ContactsTest, ContactChoicesAreLaidOverTheLineOptions) {
  // Given a contact with one kind of choice, expect exactly the options it
  // names changed; a field that is no switch or number leaves its option,
  // and only announcement mode "1" reads the general settings afresh.
  registry_ = {
      {"chkViewLineControl_IC", "0"},  {"cmbCallDisplayStyleIncomming", "3"},
      {"chkICViewCD", "maybe"},        {"chkPlayInCall", "True"},
      {"CmbPlayWhenCall", "bell.wav"}, {"IC_txtTTS", "Hello <CALLER_NAME>"}};
  using Edit = std::function<void(ContactRecord&)>;
  using Expect = std::function<void(ContactOverlay&)>;
  const struct {
    const char* what;
    Edit contact;
    Expect changed;
  } cases[] = {
      {"general announcements", [](auto& c) { c.announcements[0] = '1'; },
       [](auto& o) {
         o.show_line_control_on_call = o.say_on_incoming = false;
         o.call_display_style = 3;
         o.incoming_sound = "bell.wav";
         o.incoming_text = "Hello <CALLER_NAME>";
       }},
      {"no announcements", [](auto& c) { c.announcements[0] = '2'; },
       [](auto& o) {
         o.show_call_on_incoming = o.show_line_control_on_call =
             o.play_sound_on_incoming = o.say_on_incoming = false;
       }},
      {"own announcements",
       [](auto& c) {
         c.announcements[0] = '3';
         c.view_line_control[0] = c.play_sound[0] = '0';
         c.view_cd[0] = '1';
         c.display_style[0] = '5';
         PutField(c.sound_name, "tune.wav");
         PutField(c.say_text, "It is <CONTACT>");
       },
       [](auto& o) {
         o.show_line_control_on_call = o.play_sound_on_incoming = false;
         o.call_display_style = 5;
         o.incoming_sound = "tune.wav";
         o.incoming_text = "It is <CONTACT>";
       }},
      {"own forwarding",
       [](auto& c) {
         c.forwarding[0] = '3';
         c.app[0] = '0';
         c.act_mail[0] = '2';
         c.act_app[0] = '-';
         PutField(c.mail_to, "them@example.org");
         PutField(c.app_to, "run <CALLER_NAME>");
       },
       [](auto& o) {
         o.forward_to_app = false;
         o.mail_when = 2;
         o.mail_to = "them@example.org";
         o.app_command = "run <CALLER_NAME>";
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ContactRecord record = MakeContact("C", "", "1");
    c.contact(record);
    WriteContacts(dir_.path(), {record});
    read_sections_.clear();
    ContactOverlay o = LineOptions();
    ASSERT_EQ(Find("1", o), "1");
    ContactOverlay expected = LineOptions();
    c.changed(expected);
    EXPECT_EQ(o, expected);
    const bool general = record.announcements[0] == '1';
    EXPECT_EQ(read_sections_.empty(), !general);
    for (const std::string& s : read_sections_)
      EXPECT_EQ(s, "Events\\TabInCommingCall");
  }
  ContactRecord c = MakeContact("", "", "");
  c.contact_digit[0] = '7';
  EXPECT_EQ(ContactDigit(c), 7);
}

TEST(ContactMatcherTest, ExactThenKindThenSeparatorsThenLongestPattern) {
  // Given contacts of every kind, the weaker ones first in the file, expect
  // each caller to find the contact the matching order gives, the shown name
  // to ask the caller name only of a contact found by exact number, and only
  // numbers, patterns and the two kinds to be taken as typed numbers.
  std::vector<ContactMatcher::Entry> list;
  for (const char* number :
       {"*", "0900*", "09001*", "0900???????", "09001234567", "0161 4?? ????",
        "0161 496 ????", "(0161) 496-0000", "12?*", "12?", "0800*", "0800*",
        "WITHHELD", "UNKNOWN", "+44*", "555", "555"})
    list.push_back({list.size() == 16 ? "ANN W" : "ANN", number,
                    std::to_string(list.size()), false});
  const ContactMatcher matcher(std::move(list));
  const struct {
    const char* caller;
    size_t contact;
  } cases[] = {
      {"09001234567", 4}, {"09001999999", 3}, {"090012", 2},
      {"0900", 1},        {"01614960001", 6}, {"01614970001", 5},
      {"01614960000", 7}, {"123", 9},         {"1234", 8},
      {"12#", 0},         {"08001", 10},      {"WITHHELD", 12},
      {"P", 12},          {"anonymous", 12},  {"UNKNOWN", 13},
      {"O", 13},          {"", 13},           {"+4420", 14},
      {"004420", 0},      {"555", 15},
  };
  for (const auto& c : cases)
    EXPECT_EQ(matcher.Find(c.caller), c.contact) << c.caller;
  EXPECT_EQ(matcher.Named("ANN W", "555")->name, "16");
  EXPECT_EQ(matcher.Named("BOB", "555"), nullptr);
  EXPECT_EQ(matcher.Named("BOB", "09001999999")->name, "3");
  EXPECT_EQ(ContactMatcher({{"", "*", "", true}}).Find("P"),
            ContactMatcher::kNone);

  for (const char* ok : {"+44 20 7946 0000", "0900*", "01632 96????", "*",
                         "WITHHELD", "UNKNOWN"})
    EXPECT_TRUE(IsContactNumber(ok)) << ok;
  for (const char* bad : {"abc-def", "", "withheld", "09*00?x", "+*"})
    EXPECT_FALSE(IsContactNumber(bad)) << bad;
}

}  // namespace
}  // namespace lw
