#include "callstore/contacts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "callstore/test_util.h"
#include "temp_dir.h"

namespace lw {
namespace {

using testing::MakeContact;
using testing::WriteContacts;
using testing::WriteFile;

// Options as the line had them before the caller identification.
ContactOverlay LineOptions() {
  ContactOverlay o;
  o.bDetectPickUP = true;
  o.bRunAnsIfNotAnswered = true;
  o.sGreetsMessage = "Default.wav";
  o.bRecordMessage = true;
  o.nNumOfRing = 4;
  o.bViewLineControl_IC = true;
  o.nCallDisplayStyle_IC = 2;
  o.bViewCD_IC = true;
  o.bPlaySound_IC = true;
  o.sPlaySound_IC = "ring.wav";
  o.bSay_IC = true;
  o.sSay_IC = "Call from <CALLER_NAME>";
  o.bSendToMail = true;
  o.nActMail = 1;
  o.sMailTo = "me@example.org";
  o.bApp = true;
  o.nActApp = 2;
  o.sAppTo = "notify <CALLER_NUMBER>";
  return o;
}

class ContactsTest : public ::testing::Test {
 protected:
  // Looks `number` up with line options `o`, registry reads answered from
  // registry_.
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
  // win and the given number to be taken as it is.
  ContactRecord blank;
  std::memset(blank.bytes(), ' ', ContactRecord::kSize);
  WriteContacts(dir_.path(), {blank, MakeContact("First", "ANNA", "555"),
                              MakeContact("Second", "ANNA", "555"),
                              MakeContact("Padded", "BEN", "  777")});
  ContactOverlay o = LineOptions();
  EXPECT_EQ(Find("555", o), "2");
  EXPECT_EQ(FieldText(found_.name), "First");
  EXPECT_EQ(Find("777", o), "4");
  EXPECT_EQ(Find("555 ", o), "-1");
  EXPECT_EQ(Find("55", o), "-1");
  // The all-blank record is the contact with no number.
  EXPECT_EQ(Find("", o), "1");
  EXPECT_EQ(o, LineOptions());  // no call handling fields set

  EXPECT_EQ(contacts_.GetContactName("ANNA", "555"), "First");
  EXPECT_EQ(contacts_.GetContactName("BEN", "777"), "Padded");
  EXPECT_EQ(contacts_.GetContactName("OTHER", "555"), "");
  EXPECT_EQ(contacts_.GetContactName("anna", "555"), "");

  // Matches beyond the first chunk the reader takes.
  std::vector<ContactRecord> many;
  many.reserve(200);
  for (int i = 0; i < 200; ++i)
    many.push_back(
        MakeContact("C" + std::to_string(i), "N", std::to_string(i)));
  WriteContacts(dir_.path(), many);
  EXPECT_EQ(Find("150", o), "151");
  EXPECT_EQ(contacts_.GetContactName("N", "199"), "C199");
}

TEST_F(ContactsTest, MissingShortOrUnreadableFileGivesNoMatch) {
  ContactOverlay o = LineOptions();
  EXPECT_EQ(Find("555", o), "-1");
  EXPECT_EQ(contacts_.GetContactName("ANNA", "555"), "");
  // A trailing partial record is not a contact.
  ContactRecord c = MakeContact("Cut", "ANNA", "555");
  WriteFile(dir_.path() + "/Data/Contactes",
            std::string_view(c.bytes(), ContactRecord::kSize - 1));
  EXPECT_EQ(Find("555", o), "-1");
  std::filesystem::remove(dir_.path() + "/Data/Contactes");
  std::filesystem::create_directories(dir_.path() + "/Data/Contactes");
  EXPECT_EQ(Find("555", o), "-1");
  EXPECT_EQ(contacts_.GetContactName("ANNA", "555"), "");
  EXPECT_EQ(o, LineOptions());
}

TEST_F(ContactsTest, BlockAndIgnore) {
  ContactRecord block = MakeContact("Block", "", "1");
  block.call_handling[0] = '2';
  ContactRecord ignore = MakeContact("Ignore", "", "2");
  ignore.call_handling[0] = '3';
  WriteContacts(dir_.path(), {block, ignore});
  for (const char* number : {"1", "2"}) {
    ContactOverlay o = LineOptions();
    Find(number, o);
    ContactOverlay expected = LineOptions();
    (*number == '1' ? expected.ContactBlock : expected.ContactIgnore) = true;
    EXPECT_EQ(o, expected);
  }
}

TEST_F(ContactsTest, OwnAnsweringSettings) {
  ContactRecord c = MakeContact("Own", "", "1");
  c.call_handling[0] = '4';
  c.run_ans_if_not_answered[0] = '0';
  c.detect_pick_up[0] = '0';
  PutField(c.greeting, "Family");
  PutField(c.num_of_ring, "7");
  c.record_message[0] = 'x';  // not a switch: option stays
  ContactRecord bad = c;
  PutField(bad.caller_number, "2");
  PutField(bad.num_of_ring, "a1");  // not a number: option stays
  WriteContacts(dir_.path(), {c, bad});

  ContactOverlay o = LineOptions();
  EXPECT_EQ(Find("1", o), "1");
  ContactOverlay expected = LineOptions();
  expected.bRunAnsIfNotAnswered = false;
  expected.bDetectPickUP = false;
  expected.sGreetsMessage = "Family.wav";
  expected.nNumOfRing = 7;
  EXPECT_EQ(o, expected);

  o = LineOptions();
  Find("2", o);
  expected.nNumOfRing = 4;
  EXPECT_EQ(o, expected);
}

TEST_F(ContactsTest, AnnouncementsFromRegistry) {
  // Mode "1": the seven settings are read afresh; a missing switch is off,
  // one that is not a switch leaves the option.
  ContactRecord c = MakeContact("Gen", "", "1");
  c.announcements[0] = '1';
  WriteContacts(dir_.path(), {c});
  registry_ = {
      {"chkViewLineControl_IC", "0"},  {"cmbCallDisplayStyleIncomming", "3"},
      {"chkICViewCD", "maybe"},        {"chkPlayInCall", "True"},
      {"CmbPlayWhenCall", "bell.wav"}, {"IC_txtTTS", "Hello <CALLER_NAME>"}};
  ContactOverlay o = LineOptions();
  Find("1", o);
  ContactOverlay expected = LineOptions();
  expected.bViewLineControl_IC = false;
  expected.nCallDisplayStyle_IC = 3;
  expected.bViewCD_IC = true;
  expected.bPlaySound_IC = true;
  expected.sPlaySound_IC = "bell.wav";
  expected.bSay_IC = false;
  expected.sSay_IC = "Hello <CALLER_NAME>";
  EXPECT_EQ(o, expected);
  ASSERT_FALSE(read_sections_.empty());
  for (const std::string& s : read_sections_)
    EXPECT_EQ(s, "Events\\TabInCommingCall");
}

TEST_F(ContactsTest, AnnouncementsNoneAndOwn) {
  ContactRecord none = MakeContact("None", "", "1");
  none.announcements[0] = '2';
  ContactRecord own = MakeContact("Own", "", "2");
  own.announcements[0] = '3';
  own.view_line_control[0] = '0';
  own.view_cd[0] = '1';
  own.display_style[0] = '5';
  own.play_sound[0] = '0';
  PutField(own.sound_name, "tune.wav");
  own.say[0] = ' ';  // not a switch
  PutField(own.say_text, "It is <CONTACT>");
  WriteContacts(dir_.path(), {none, own});

  ContactOverlay o = LineOptions();
  Find("1", o);
  ContactOverlay expected = LineOptions();
  expected.bViewCD_IC = false;
  expected.bViewLineControl_IC = false;
  expected.bPlaySound_IC = false;
  expected.bSay_IC = false;
  EXPECT_EQ(o, expected);

  o = LineOptions();
  Find("2", o);
  expected = LineOptions();
  expected.bViewLineControl_IC = false;
  expected.bViewCD_IC = true;
  expected.nCallDisplayStyle_IC = 5;
  expected.bPlaySound_IC = false;
  expected.sPlaySound_IC = "tune.wav";
  expected.sSay_IC = "It is <CONTACT>";
  EXPECT_EQ(o, expected);
  EXPECT_TRUE(read_sections_.empty());
}

TEST_F(ContactsTest, Forwarding) {
  ContactRecord nomail = MakeContact("NoMail", "", "1");
  nomail.forwarding[0] = '2';
  ContactRecord own = MakeContact("Own", "", "2");
  own.forwarding[0] = '3';
  own.send_to_mail[0] = '1';
  own.act_mail[0] = '2';
  PutField(own.mail_to, "them@example.org");
  own.app[0] = '0';
  own.act_app[0] = '-';  // not a number
  PutField(own.app_to, "run <CALLER_NAME>");
  ContactRecord other = MakeContact("Other", "", "3");
  other.forwarding[0] = '9';
  WriteContacts(dir_.path(), {nomail, own, other});

  ContactOverlay o = LineOptions();
  Find("1", o);
  ContactOverlay expected = LineOptions();
  expected.bSendToMail = false;  // the application forwarding stays here
  EXPECT_EQ(o, expected);

  o = LineOptions();
  Find("2", o);
  expected = LineOptions();
  expected.bSendToMail = true;
  expected.nActMail = 2;
  expected.sMailTo = "them@example.org";
  expected.bApp = false;
  expected.sAppTo = "run <CALLER_NAME>";
  EXPECT_EQ(o, expected);

  o = LineOptions();
  Find("3", o);
  EXPECT_EQ(o, LineOptions());
}

TEST(ContactTextTest, SwitchAndNumberTexts) {
  bool b = false;
  EXPECT_TRUE(ParseSwitchText("1", b));
  EXPECT_TRUE(b);
  EXPECT_TRUE(ParseSwitchText("0", b));
  EXPECT_FALSE(b);
  EXPECT_TRUE(ParseSwitchText("5", b));
  EXPECT_TRUE(b);
  EXPECT_TRUE(ParseSwitchText("FALSE", b));
  EXPECT_FALSE(b);
  EXPECT_FALSE(ParseSwitchText("", b));
  EXPECT_FALSE(ParseSwitchText("yes", b));
  EXPECT_FALSE(ParseSwitchText("1x", b));
  int16_t n = 9;
  EXPECT_TRUE(ParseInt16Text(" 12 ", n));
  EXPECT_EQ(n, 12);
  EXPECT_TRUE(ParseInt16Text("-3", n));
  EXPECT_EQ(n, -3);
  EXPECT_FALSE(ParseInt16Text("40000", n));
  EXPECT_FALSE(ParseInt16Text("", n));
  EXPECT_FALSE(ParseInt16Text("1.5", n));
  EXPECT_EQ(n, -3);
  ContactRecord c = MakeContact("", "", "");
  c.contact_digit[0] = '7';
  EXPECT_EQ(ContactDigit(c), 7);
  c.contact_digit[0] = 'x';
  EXPECT_EQ(ContactDigit(c), 0);
}

}  // namespace
}  // namespace lw
