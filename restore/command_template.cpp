#include "command_template.h"

namespace {
std::string ReplaceAll(std::string_view text, std::string_view placeholder,
                       std::string_view value) {
  std::string result;
  for (size_t at; (at = text.find(placeholder)) != std::string_view::npos;) {
    result.append(text.substr(0, at)).append(value);
    text.remove_prefix(at + placeholder.size());
  }
  return result.append(text);
}
}  // namespace

std::string SubstituteCommandTemplate(std::string_view commandTemplate, char virtualLetter,
                                      std::string_view destination) {
  const char root[] = {virtualLetter, ':', '\\'};
  return SubstituteCommandFolders(commandTemplate, std::string_view(root, sizeof root),
                                  destination);
}

std::string SubstituteCommandFolders(std::string_view commandTemplate, std::string_view source,
                                     std::string_view destination) {
  return ReplaceAll(ReplaceAll(commandTemplate, "<SRC>", source), "<DST>", destination);
}
