// Selective parsing: an answer check names the members it wants, each in a
// Slot, and ParseSelected keeps those and validates and skips the rest
// without building a tree. The grammar, the numbers and the nesting bound
// are picojson's parser's, so a check decides as a check of the whole tree
// would. A string slot points into the parsed text, which must outlive it.
#ifndef VANTA_MESSAGES_SELECTIVE_PARSE_H_
#define VANTA_MESSAGES_SELECTIVE_PARSE_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "messages/Json.h"

namespace vanta {
namespace json {

// The kind of a kept value; kAbsent when no value came.
enum class Kind : uint8_t { kAbsent, kNull, kBoolean, kNumber, kString, kArray, kObject };

// The slot of one wanted value.
class Slot {
 public:
  Slot() = default;
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;
  virtual ~Slot() = default;

  Kind kind() const { return kind_; }
  bool present() const { return kind_ != Kind::kAbsent; }
  bool is_number() const { return kind_ == Kind::kNumber; }
  bool is_string() const { return kind_ == Kind::kString; }
  bool is_array() const { return kind_ == Kind::kArray; }
  bool is_object() const { return kind_ == Kind::kObject; }

  // A number: its value.
  double number() const { return number_; }
  // An array: how many elements it has, kept or not.
  size_t size() const { return size_; }
  // A string: whether its decoded bytes are exactly those of text.
  bool Equals(const char* text) const;
  // A string: replaces out's contents with its decoded bytes.
  void CopyTo(std::string& out) const;
  // A string: its decoded bytes.
  std::string ToString() const;

 private:
  friend class SelectingContext;  // the parse context that fills slots
  friend class ObjectSlot;

  // Back to absent, with everything kept inside dropped.
  virtual void Clear();
  // Where the member key of an object value goes; nullptr: skipped.
  virtual Slot* MemberSlot(const std::string& key);
  // Where element index of an array value goes; nullptr: skipped.
  virtual Slot* ElementSlot(size_t index);

  Kind kind_ = Kind::kAbsent;
  double number_ = 0;
  const char* string_ = nullptr;  // the first byte after the opening quote
  size_t string_size_ = 0;        // raw bytes up to the closing quote
  size_t size_ = 0;

  // Where a ObjectSlot keeps this slot: under key, in a list of its slots.
  const char* key_ = nullptr;
  size_t key_size_ = 0;
  Slot* next_ = nullptr;
};

// An object of which the members named with Keep are kept; all others are
// skipped. The slots it keeps are listed in the slots themselves, so a
// record needs no table of its own.
class ObjectSlot : public Slot {
 public:
  // Every member named with Keep is present and of kind.
  bool AllMembersAre(Kind kind) const;

 protected:
  // Keeps the member key, a string literal, in slot, a member of the
  // derived record.
  template <size_t N>
  void Keep(const char (&key)[N], Slot& slot) {
    Keep(key, N - 1, slot);
  }

 private:
  void Clear() override;
  Slot* MemberSlot(const std::string& key) override;
  void Keep(const char* key, size_t key_size, Slot& slot);

  Slot* first_ = nullptr;
  Slot* last_ = nullptr;
};

// An array of which the first N elements are kept, each in an Element (a
// Slot or a record); later ones are counted and skipped.
template <typename Element, size_t N>
class ArraySlot : public Slot {
 public:
  // The kept elements, in array order.
  const Element* begin() const { return elements_; }
  const Element* end() const { return elements_ + std::min(size(), N); }

 private:
  Slot* ElementSlot(size_t index) override { return index < N ? &elements_[index] : nullptr; }

  Element elements_[N];
};

// Parses text as one JSON value with picojson's parser (leading white
// space skipped, what follows the value ignored), keeping into root what it
// wants. False for a syntax error (an empty text included), nesting deeper
// than kMaxDepth, or a number that overflows a double; root then holds
// nothing usable.
bool ParseSelected(const std::string& text, Slot& root);

// The members every dispatcher answer has: "status", and "result" and
// "message" of a refusal. An answer's record derives from it.
struct Envelope : ObjectSlot {
  Envelope() {
    Keep("status", status);
    Keep("result", result);
    Keep("message", message);
  }
  Slot status;
  Slot result;
  Slot message;
};

// The dispatcher answer check. text must be an object with a string
// "status". Exactly "ok" is accepted: the caller then reads its success
// members from answer. Any other status requires a number "result" and a
// string "message" and is a refusal with "result" as int32 status.
// Everything else is malformed.
Verdict CheckEnvelope(const std::string& text, Envelope& answer);

}  // namespace json
}  // namespace vanta

#endif  // VANTA_MESSAGES_SELECTIVE_PARSE_H_
