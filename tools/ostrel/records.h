// Records as text in the ostrel tool: one table printer and one `path=value` parser, shared by
// the commands that show or take record values (record, data points, events).
//
// Both go through the record's meta data (GetMetaDataList, GetMetaData, PutMetaData), so the
// tool shows and takes exactly the texts the library does. Terminal text is UTF-8.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

class BrennicData;

namespace tool {

// Prints `record` as a table of ELEMENT, TYPE and VALUE, in layout order. Nested elements are
// expanded by path ("speed.value", "pumps[2].mode"), as are the items of arrays that are not
// texts ("levels[3]"); texts are quoted; a char or byte shows its number and its character.
// A record without a type prints one line saying so.
void printRecord(std::ostream& out, BrennicData& record);

// Applies each `path=value` of `args` to `record` through PutMetaData. Every assignment is
// checked first: the path must name a field with a text form (a base element, one item of an
// array, or a whole text) and the value must parse for its type and fit. On the first that
// does not, `error` names the field and says why, nothing is written and the result is false.
bool parseAssignments(BrennicData& record, const std::vector<std::string>& args, std::string& error);

// The value of the field at `path` as plain text, as an assignment takes it back: numbers in
// digits (a char or byte as its number), texts unquoted, kx_time in seconds. False, with `error`
// naming the path and why, when the path names no field with a text form.
bool fieldText(BrennicData& record, const std::string& path, std::string& text, std::string& error);

// Every field of `record` that has a text form, in layout order by path (as printRecord shows
// them), with its type name and its value as fieldText gives it. Empty without a type.
struct FieldText {
  std::string path;
  std::string type;
  std::string text;
};
std::vector<FieldText> fieldTexts(BrennicData& record);
// A field's value as JSON: a number as a JSON number (NaN and infinities as strings), anything
// else as a string.
std::string jsonValue(const FieldText& field);

// `text` as a JSON string, quoted and escaped.
std::string jsonString(const std::string& text);
// `record` as one JSON object: {"name": ..., "type": ..., "fields": {"PATH": VALUE, ...}} with
// the fields in layout order by path, as printRecord shows them; numbers as JSON numbers (a NaN
// or infinity as a string), texts as strings. A record without a type: "type" null and
// "fields" empty.
std::string recordJson(BrennicData& record);

// What a received value shows: the record itself, or, for a value without a type that is one
// stream form, `decoded` rebuilt from it. `bytes` and `length` are the value the record holds.
BrennicData* decodedOrSelf(BrennicData& record, BrennicData& decoded, char*& bytes, unsigned int& length);
// A received value as one JSON object: {"name", "type", "fields"} as recordJson gives them, a
// self-describing value decoded; a raw value's bytes as "hex".
std::string valueJson(BrennicData& record);
// The same with "box": WHERE first.
std::string receivedJson(const std::string& where, BrennicData& record);

// UTF-8 to the platform's wide text and back (malformed input becomes U+FFFD).
std::wstring fromUtf8(const std::string& text);
std::string toUtf8(const std::wstring& text);

}  // namespace tool
