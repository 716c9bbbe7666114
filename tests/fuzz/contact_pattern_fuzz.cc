// Feeds contact numbers and a caller number to the contact matcher: the
// input's lines are up to eight contacts' numbers (a field's 40 bytes at
// most, trimmed as read from the file), the last line the caller's number,
// handed over in a buffer of its own size so that a read past it trips the
// address sanitizer. Checked: a contact with exactly the caller's number
// always wins, the first of them, also when added last; a withheld or
// unknown caller finds only the contact of its kind; a contact without
// wildcards matches only its own number (separators aside); a pattern that
// wins has a digit where it has "?" and the caller's characters elsewhere.
#include <memory>
#include <string_view>

#include "callstore/call_record.h"
#include "callstore/contacts.h"
#include "fuzz_home.h"

using lw::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<lw::ContactMatcher::Entry> entries;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  for (size_t end = 0;
       entries.size() < 8 && (end = rest.find('\n')) != rest.npos;
       rest.remove_prefix(end + 1))
    entries.push_back(
        {"",
         std::string(lw::TrimField(rest.substr(0, std::min<size_t>(end, 40)))),
         "", false});
  auto owned = std::make_unique<char[]>(rest.size() + 1);
  std::copy(rest.begin(), rest.end(), owned.get());
  const std::string_view caller(owned.get(), rest.size());

  const std::vector<lw::ContactMatcher::Entry> list = entries;
  entries.push_back({"", std::string(caller), "", false});
  const size_t with_exact = lw::ContactMatcher(std::move(entries)).Find(caller);
  const size_t found = lw::ContactMatcher(std::vector(list)).Find(caller);
  size_t exact = 0;
  while (exact < list.size() && list[exact].caller_number != caller) ++exact;
  Check(with_exact == exact);
  if (exact < list.size()) Check(found == exact);
  if (found == lw::ContactMatcher::kNone || exact < list.size()) return 0;

  const std::string_view number = list.at(found).caller_number;
  const lw::CallerNumberKind kind = lw::ClassifyCallerNumber(caller);
  if (kind != lw::CallerNumberKind::kNumber) {
    Check(number == (kind == lw::CallerNumberKind::kWithheld
                         ? lw::kWithheldContact
                         : lw::kUnknownContact));
    return 0;
  }
  std::string bare;
  for (const char c : number)
    if (std::string_view(" -()/.").find(c) == std::string_view::npos) bare += c;
  const bool star = !bare.empty() && bare.back() == '*';
  if (!star && bare.find('?') == std::string::npos) {
    Check(bare == caller);
    return 0;
  }
  if (star) bare.pop_back();
  Check(caller.size() >= bare.size() && (star || caller.size() == bare.size()));
  for (size_t i = 0; i < bare.size(); ++i)
    Check(bare[i] == '?' ? caller[i] >= '0' && caller[i] <= '9'
                         : bare[i] == caller[i]);
  return 0;
}
