// Text on its way out of the program: strings into JSON, names onto a terminal line.
//
// Paths and names reach the output from the command line (usually UTF-8) and from
// LightWave files and packs (8-bit Windows/Amiga text, read as Latin-1, their common
// subset). JSON must be UTF-8, and the JSON library throws on anything else, so every
// document is printed through `json_dump`, which passes every string through the one
// conversion `json_text` first: text that is already valid UTF-8 is kept, anything else
// is read as Latin-1. It never throws.
//
// `printable_name` is for names that come from data and are printed one per line (pack
// entries): control characters would let a name add lines of its own, so they are
// written as \n, \t, \r or \xNN.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace orvl {

bool is_valid_utf8(const std::string& s);
// `s` if it is valid UTF-8, else its bytes read as Latin-1, as UTF-8.
std::string utf8_text(const std::string& s);
std::string printable_name(const std::string& s);

namespace json_text_detail {
template <class Json>
void convert_strings(Json& j) {
  if (j.is_string()) {
    auto& s = j.template get_ref<std::string&>();
    if (!is_valid_utf8(s)) s = utf8_text(s);
  } else if (j.is_structured()) {
    for (auto& e : j) convert_strings(e);  // object keys are the program's own, ASCII
  }
}
}  // namespace json_text_detail

// The document as text (`indent` as nlohmann's dump), every string converted.
template <class Json>
std::string json_dump(Json j, int indent) {
  json_text_detail::convert_strings(j);
  // Nothing invalid is left; replacing rather than throwing keeps that a promise.
  return j.dump(indent, ' ', false, Json::error_handler_t::replace);
}

}  // namespace orvl
