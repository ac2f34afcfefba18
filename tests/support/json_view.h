// Reading result texts in tests: the members of a JSON object in order.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct JsonMember {
  std::string key;
  std::string type;  // "string", "int", "real", or yyjson's type description
  std::string str;   // string value
  double num = 0;    // numeric value (int or real)
};

// Parses `text` as one JSON object; fails the current test otherwise.
std::vector<JsonMember> json_members(const char *text);
// The keys of json_members(text), in order.
std::vector<std::string> json_keys(const char *text);
// The member called key; fails the current test when it is missing.
JsonMember json_member(const char *text, const std::string &key);

}  // namespace testing_support
