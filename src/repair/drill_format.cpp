#include "repair/drill_format.h"

#include <algorithm>
#include <initializer_list>
#include <string>

#include "platform/wildcard.h"

namespace {

// The statements that set units or a zero format: patterns whose letter case
// does not count.
const std::initializer_list<std::string_view> kDeclarations = {"INCH",     "INCH,*", "METRIC",
                                                               "METRIC,*", "M71",    "M72"};

bool MatchesOne(std::string_view statement, std::initializer_list<std::string_view> patterns) {
  return std::any_of(patterns.begin(), patterns.end(), [statement](std::string_view pattern) {
    return platform::MatchesWildcard(statement, pattern);
  });
}

// A line without its blanks and without a comment after the statement
// ("M71;metric"); a line that begins with ";" stays a comment.
std::string Statement(std::string_view line) {
  if (const auto comment = line.find(';');
      comment != std::string_view::npos && line.find_first_not_of(" \t") != comment) {
    line = line.substr(0, comment);
  }
  std::string statement(line);
  std::erase_if(statement, [](char c) { return c == ' ' || c == '\t'; });
  return statement;
}

}  // namespace

bool DeclaresOwnFormat(std::string_view head) {
  bool after_m48 = false;
  while (!head.empty()) {
    const auto end = std::min(head.find_first_of("\r\n"), head.size());
    const auto statement = Statement(head.substr(0, end));
    head.remove_prefix(std::min(end + 1, head.size()));
    if (MatchesOne(statement, {";*", ""})) continue;
    if (MatchesOne(statement, {"X*", "Y*"})) return false;
    if (after_m48 && MatchesOne(statement, {"%*", "M95"})) return false;
    after_m48 = after_m48 || MatchesOne(statement, {"M48"});
    if (MatchesOne(statement, kDeclarations) && !MatchesOne(statement, {"INCH,LZ"})) return true;
  }
  return false;
}
