// Trimming, unquoting, unescaping, splitting and line reading of text.
//
// Operations that change text do so in place and never lengthen it.
#pragma once

#include <cstddef>

#include <corvane/plist.hpp>

namespace corvane {

// The most bytes for_each_file_line reads from one file.
inline constexpr std::size_t READ_LIMIT = 65534;

// Called once per piece with its 1-based number; a negative result stops
// the walk.
using text_callback = int (*)(char* piece, int number, void* context);

char* trim_blanks(char* text);
char* unquote(char* text);
void unescape_config_line(char* line, int line_number);
int for_each_token(const char* text, const char* separator, void* context, text_callback callback);
int tokens_to_list(const char* text, const char* separator, plist* list, bool keep_empty);
int for_each_file_line(const char* path, void* context, text_callback callback);

}  // namespace corvane
