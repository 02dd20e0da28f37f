#include "messages/SelectiveParse.h"

#include <picojson.h>

#include <cmath>
#include <cstring>

namespace vanta {
namespace json {

namespace {

// The one place that reaches into picojson's internals. picojson parses into
// any "parse context" through its functions _parse (a whole value) and
// _parse_string (one string, after its opening quote); they are how its
// own parse() works, though the header does not document them. Everything
// below calls these two wrappers, never picojson's underscore names.
using Input = picojson::input<const char*>;

template <typename Context>
bool ParseValue(Context& context, Input& in) {
  return picojson::_parse(context, in);
}

// String is anything with push_back(char).
template <typename String>
bool ParseString(String& out, Input& in) {
  return picojson::_parse_string(out, in);
}

// Receives the bytes of a string that is only validated.
struct Discard {
  void push_back(char) {}
};

// Receives the bytes of a string and tells whether they spell expected.
class Matcher {
 public:
  explicit Matcher(const char* expected) : rest_(expected) {}
  void push_back(char c) {
    if (same_ && *rest_ == c && c != '\0') {
      ++rest_;
    } else {
      same_ = false;
    }
  }
  bool matched() const { return same_ && *rest_ == '\0'; }

 private:
  const char* rest_;
  bool same_ = true;
};

// Decodes the string whose raw bytes (between the quotes, escapes as
// written) start at raw into out, with picojson's own decoder.
template <typename String>
void Decode(const char* raw, size_t raw_size, String& out) {
  // The closing quote ends the decoding; the text was validated when it was
  // parsed, so the result is always true.
  Input in(raw, raw + raw_size + 1);
  ParseString(out, in);
}

bool HasEscape(const char* raw, size_t raw_size) {
  return std::memchr(raw, '\\', raw_size) != nullptr;
}

}  // namespace

// picojson's parse context for one value: it bounds the nesting of arrays
// and objects together (picojson's own context counts arrays only), and
// fills slot (nothing when it is nullptr, for a value that is skipped).
class SelectingContext {
 public:
  // *overflowed is shared by the contexts of one parse.
  SelectingContext(Slot* slot, size_t depth_left, bool* overflowed)
      : slot_(slot), depth_left_(depth_left), overflowed_(overflowed) {}
  SelectingContext(const SelectingContext&) = delete;
  SelectingContext& operator=(const SelectingContext&) = delete;

  bool set_null() {
    Begin(Kind::kNull);
    return true;
  }
  bool set_bool(bool) {
    Begin(Kind::kBoolean);
    return true;
  }
  bool set_number(double number) {
    // A number that overflows a double makes the whole text an error, as
    // in a tree (where picojson's value refuses it), also when it is
    // skipped. picojson's parser does not stop for it: ParseSelected looks.
    if (!std::isfinite(number)) *overflowed_ = true;
    if (Begin(Kind::kNumber)) slot_->number_ = number;
    return true;
  }
  bool parse_string(Input& in) {
    const char* raw = in.cur();
    Discard bytes;
    if (!ParseString(bytes, in)) return false;
    if (Begin(Kind::kString)) {
      slot_->string_ = raw;
      slot_->string_size_ = static_cast<size_t>(in.cur() - 1 - raw);
    }
    return true;
  }
  bool parse_array_start() { return Enter(Kind::kArray); }
  bool parse_array_item(Input& in, size_t index) {
    SelectingContext child(slot_ != nullptr ? slot_->ElementSlot(index) : nullptr, depth_left_,
                           overflowed_);
    return ParseValue(child, in);
  }
  bool parse_array_stop(size_t size) {
    if (slot_ != nullptr) slot_->size_ = size;
    return true;
  }
  bool parse_object_start() { return Enter(Kind::kObject); }
  bool parse_object_item(Input& in, const std::string& key) {
    SelectingContext child(slot_ != nullptr ? slot_->MemberSlot(key) : nullptr, depth_left_,
                           overflowed_);
    return ParseValue(child, in);
  }
  bool parse_object_stop() { return true; }

 private:
  // Gives the slot a new value of kind, dropping the one it held (a key
  // that repeats); false when nothing is kept. An absent slot holds nothing
  // (Clear leaves nothing inside), so only a filled one is cleared.
  bool Begin(Kind kind) {
    if (slot_ == nullptr) return false;
    if (slot_->kind_ != Kind::kAbsent) slot_->Clear();
    slot_->kind_ = kind;
    return true;
  }
  // Each context holds one value, so the depth its children get is fixed
  // here once.
  bool Enter(Kind kind) {
    if (depth_left_ == 0) return false;
    --depth_left_;
    Begin(kind);
    return true;
  }

  Slot* slot_;
  size_t depth_left_;
  bool* overflowed_;
};

bool Slot::Equals(const char* text) const {
  if (!HasEscape(string_, string_size_)) {
    return std::strlen(text) == string_size_ && std::memcmp(text, string_, string_size_) == 0;
  }
  Matcher matcher(text);
  Decode(string_, string_size_, matcher);
  return matcher.matched();
}

void Slot::CopyTo(std::string& out) const {
  if (!HasEscape(string_, string_size_)) {
    out.assign(string_, string_size_);
    return;
  }
  out.clear();
  Decode(string_, string_size_, out);
}

std::string Slot::ToString() const {
  std::string out;
  CopyTo(out);
  return out;
}

void Slot::Clear() {
  kind_ = Kind::kAbsent;
  number_ = 0;
  string_ = nullptr;
  string_size_ = 0;
  size_ = 0;
}

Slot* Slot::MemberSlot(const std::string&) { return nullptr; }

Slot* Slot::ElementSlot(size_t) { return nullptr; }

void ObjectSlot::Keep(const char* key, size_t key_size, Slot& slot) {
  slot.key_ = key;
  slot.key_size_ = key_size;
  if (first_ == nullptr) {
    first_ = &slot;
  } else {
    last_->next_ = &slot;
  }
  last_ = &slot;
}

void ObjectSlot::Clear() {
  Slot::Clear();
  for (Slot* slot = first_; slot != nullptr; slot = slot->next_) slot->Clear();
}

bool ObjectSlot::AllMembersAre(Kind kind) const {
  for (const Slot* slot = first_; slot != nullptr; slot = slot->next_) {
    if (slot->kind() != kind) return false;
  }
  return true;
}

Slot* ObjectSlot::MemberSlot(const std::string& key) {
  for (Slot* slot = first_; slot != nullptr; slot = slot->next_) {
    if (key.size() == slot->key_size_ && key[0] == slot->key_[0] &&
        std::memcmp(key.data(), slot->key_, key.size()) == 0) {
      return slot;
    }
  }
  return nullptr;
}

bool ParseSelected(const std::string& text, Slot& root) {
  bool overflowed = false;
  SelectingContext context(&root, kMaxDepth, &overflowed);
  Input in(text.data(), text.data() + text.size());
  return ParseValue(context, in) && !overflowed;
}

Verdict CheckEnvelope(const std::string& text, Envelope& answer) {
  if (!ParseSelected(text, answer) || !answer.is_object()) return Verdict::Malformed();
  if (!answer.status.is_string()) return Verdict::Malformed();
  if (answer.status.Equals("ok")) return Verdict::Accepted();
  // Presence of both members is tested before their kinds; every miss has
  // the same verdict, so one combined test says the same.
  if (!answer.result.is_number() || !answer.message.is_string()) return Verdict::Malformed();
  return Verdict::Refused(ToInt32(answer.result.number()), answer.message.ToString());
}

}  // namespace json
}  // namespace vanta
